#!/usr/bin/env bash
# Prepares the private 32-bit Wine prefix of a Windows build tree and starts its persistent
# wineserver and services with their output on /dev/null: a service started by the first test would
# otherwise inherit ctest's pipe and ctest would wait for it forever.
#   scripts/wine-prefix.sh start <prefix>   create once, then start
#   scripts/wine-prefix.sh stop <prefix>    end every Wine process of the prefix
set -euo pipefail
action=$1
prefix=$2
export WINEARCH=win32 WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case "$action" in
  start)
    if [ ! -f "$prefix/system.reg" ]; then
      mkdir -p "$prefix"
      wineboot -i </dev/null >/dev/null 2>&1
      wineserver -w
    fi
    wineserver -p </dev/null >/dev/null 2>&1
    wine cmd /c exit </dev/null >/dev/null 2>&1
    ;;
  stop)
    wineserver -k >/dev/null 2>&1 || true
    ;;
esac
