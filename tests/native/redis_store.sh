#!/usr/bin/env bash
# The tests' Redis server: `start DIR` runs Debian's redis-server on 127.0.0.1 at a free port with a
# password, no persistence, noeviction and DEBUG (a test stalls it with DEBUG SLEEP), writing DIR/port; `stop DIR` ends it (resumed first if a
# test left it stopped) and leaves nothing running. A CTest fixture's setup and cleanup.
#   usage: redis_store.sh start|stop DIR
set -euo pipefail
action=$1 dir=$2
password=vexorin-test-password
cli() { redis-cli -h 127.0.0.1 -p "$(cat "$dir/port")" --no-auth-warning -a "$password" "$@"; }
case "$action" in
  start)
    command -v redis-server >/dev/null || { echo "redis_store: redis-server is missing (scripts/setup-native.sh)" >&2; exit 1; }
    mkdir -p "$dir"
    [ -f "$dir/redis.pid" ] && bash "$0" stop "$dir"
    for attempt in 1 2 3 4 5 6 7 8 9 10; do
      port=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
      (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && continue  # taken
      echo "$port" >"$dir/port"
      rm -f "$dir/redis.pid"
      redis-server --port "$port" --bind 127.0.0.1 --daemonize yes --pidfile "$dir/redis.pid" \
        --dir "$dir" --logfile "$dir/redis.log" --save '' --appendonly no --requirepass "$password" \
        --maxmemory-policy noeviction --enable-debug-command local </dev/null >/dev/null 2>&1 || continue
      for _ in $(seq 100); do
        [ "$(cli ping 2>/dev/null)" = PONG ] && { echo "redis_store: up on 127.0.0.1:$port"; exit 0; }
        sleep 0.1
      done
      [ -f "$dir/redis.pid" ] && kill "$(cat "$dir/redis.pid")" 2>/dev/null || true
    done
    echo "redis_store: could not start redis-server" >&2
    cat "$dir/redis.log" >&2 2>/dev/null || true
    exit 1 ;;
  stop)
    [ -f "$dir/redis.pid" ] || exit 0
    pid=$(cat "$dir/redis.pid")
    if kill -0 "$pid" 2>/dev/null; then
      kill -CONT "$pid" 2>/dev/null || true
      kill "$pid"
      for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -0 "$pid" 2>/dev/null && kill -KILL "$pid"
    fi
    rm -f "$dir/redis.pid" "$dir/port"
    echo "redis_store: stopped" ;;
  *) echo "usage: redis_store.sh start|stop DIR" >&2; exit 2 ;;
esac
