#!/usr/bin/env bash
# The one place that knows how this project runs Wine: the loader of each bitness, the environment
# of a run, and the private prefixes of the Windows trees. Where the kernel runs no 32-bit code, the
# 32-bit loader is Debian's own under qemu-i386 user emulation (scripts/emulation/setup.sh makes it
# in build/emulation, or in $VEXORIN_EMULATION).
#   scripts/wine.sh mode                     how 32-bit programs run here: native, emulated or none
#   scripts/wine.sh loader 32|64             the loader command of that bitness
#   scripts/wine.sh env PREFIX win32|win64   the environment of a run in that prefix (NAME=value lines)
#   scripts/wine.sh start PREFIX win32|win64 create the prefix once, start its wineserver and services
#   scripts/wine.sh stop PREFIX              end every Wine process of the prefix
#   scripts/wine.sh run LOADER PROGRAM ARGS  run a Windows program; a failure's exit status on stderr
# Sourced, it defines the functions of the same names (wine_mode, wine_loader, wine_env) and exports
# the variables of wine_env for what follows.
wine_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
wine_emulation=${VEXORIN_EMULATION:-$wine_root/build/emulation}
wine_native32=/usr/lib/wine/wine
wine_native64=/usr/lib/wine/wine64

# VEXORIN_WINE32_MODE caches the answer for the processes that follow (scripts/test.sh exports it).
wine_mode() {
  if [ -z "${VEXORIN_WINE32_MODE:-}" ]; then
    if "$wine_native32" --version >/dev/null 2>&1; then
      VEXORIN_WINE32_MODE=native
    elif [ -x "$wine_emulation/wine32" ]; then
      VEXORIN_WINE32_MODE=emulated
    else
      VEXORIN_WINE32_MODE=none
    fi
  fi
  echo "$VEXORIN_WINE32_MODE"
}

# Emulated, the 64-bit loader is the copy beside the emulated 32-bit one too: Wine starts a process
# of the other bitness with the loader in its own bin dir, and Debian's /usr/lib/wine/wine is refused.
wine_loader() {  # 32 | 64
  local emulated=0
  [ "$(wine_mode)" = emulated ] && emulated=1
  case "$1" in
    64) if [ $emulated = 1 ]; then echo "$wine_emulation/root/usr/lib/wine/wine64"; else echo "$wine_native64"; fi ;;
    32) if [ $emulated = 1 ]; then echo "$wine_emulation/wine32"; else echo "$wine_native32"; fi ;;
    *) echo "wine.sh: no loader for '$1'" >&2; return 2 ;;
  esac
}

wine_env() {  # prefix, win32 | win64
  local bits=32
  [ "$2" = win64 ] && bits=64
  echo "WINEARCH=$2"
  echo "WINEPREFIX=$1"
  echo "WINEDEBUG=-all"
  # No Mono or Gecko installer prompts while a prefix is made.
  echo "WINEDLLOVERRIDES=mscoree,mshtml="
  echo "VEXORIN_WINE=$(wine_loader $bits)"
  echo "VEXORIN_WINE32_MODE=$(wine_mode)"
}

wine_start() {  # prefix, win32 | win64
  local line loader
  while IFS= read -r line; do export "${line?}"; done < <(wine_env "$1" "$2")
  loader=$VEXORIN_WINE
  if [ ! -f "$1/system.reg" ]; then
    mkdir -p "$1"
    "$loader" wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
  fi
  # The server and the services start with their output on /dev/null: a service started by the
  # first test would otherwise inherit ctest's pipe, and ctest would wait for it forever.
  # (A server left running from an earlier run makes this fail; it serves as well.)
  wineserver -p </dev/null >/dev/null 2>&1 || true
  rm -f "$1/restarts.log"
  "$loader" cmd /c exit </dev/null >/dev/null 2>&1
}

wine_stop() {  # prefix
  WINEPREFIX=$1 wineserver -k >/dev/null 2>&1 || true
}

# The tests' launcher. Now and then (about one test run in ten here) a Wine program ends within
# moments of its start having written nothing, with status 0 or not: it never reached its main, and
# with WINEDEBUG=-all Wine says nothing either. Every program started this way writes something when
# it runs, so such a start is made once more, and said on stderr and in the prefix's restarts.log
# (which a caller's redirection cannot swallow; scripts/test.sh counts its lines).
# A failure's exit status goes to stderr too.
wine_run() {  # loader, program, args...
  local out err started status try note
  out=$(mktemp) && err=$(mktemp) || return 1
  for try in 1 2; do
    started=$SECONDS
    "$@" >"$out" 2>"$err" && status=0 || status=$?
    if [ $try = 1 ] && [ $((SECONDS - started)) -le 1 ] && [ ! -s "$out" ] && [ ! -s "$err" ]; then
      note="wine.sh: $(basename -- "$2") ended at its start with status $status and no output; started once more"
      echo "$note" >&2
      [ -n "${WINEPREFIX:-}" ] && echo "$note" >>"$WINEPREFIX/restarts.log"
      continue
    fi
    break
  done
  cat "$out"
  cat "$err" >&2
  rm -f "$out" "$err"
  [ $status -ne 0 ] && echo "wine.sh: $(basename -- "$2") exited with status $status after $((SECONDS - started)) s" >&2
  return $status
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  action=${1:-}
  case "$action" in
    mode) wine_mode ;;
    loader) wine_loader "${2:?32 or 64}" ;;
    env) wine_env "${2:?prefix}" "${3:?win32 or win64}" ;;
    start) wine_start "${2:?prefix}" "${3:-win32}" ;;
    stop) wine_stop "${2:?prefix}" ;;
    run) shift; wine_run "$@" ;;
    *) echo "usage: wine.sh mode | loader 32|64 | env PREFIX ARCH | start PREFIX ARCH | stop PREFIX | run LOADER PROGRAM ARGS" >&2; exit 2 ;;
  esac
fi
