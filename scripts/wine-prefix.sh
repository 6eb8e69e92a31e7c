#!/usr/bin/env bash
# Prepares the private Wine prefix of a Windows build tree and starts its persistent wineserver and
# services with their output on /dev/null: a service started by the first test would otherwise
# inherit ctest's pipe and ctest would wait for it forever.
#   scripts/wine-prefix.sh start <prefix> [win32 (default) | win64]   create once, then start
#   scripts/wine-prefix.sh stop <prefix>                              end every Wine process of the prefix
# A win64 prefix runs 64-bit programs (system32) and 32-bit ones (syswow64).
set -euo pipefail
action=$1
prefix=$2
arch=${3:-win32}
case "$arch" in
  win32) loader=wine ;;
  win64) loader=/usr/lib/wine/wine64 ;;
  *) echo "wine-prefix: unknown architecture '$arch'" >&2; exit 2 ;;
esac
export WINEARCH=$arch WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case "$action" in
  start)
    if [ ! -f "$prefix/system.reg" ]; then
      mkdir -p "$prefix"
      "$loader" wineboot -i </dev/null >/dev/null 2>&1
      wineserver -w
    fi
    wineserver -p </dev/null >/dev/null 2>&1
    "$loader" cmd /c exit </dev/null >/dev/null 2>&1
    ;;
  stop)
    wineserver -k >/dev/null 2>&1 || true
    ;;
esac
