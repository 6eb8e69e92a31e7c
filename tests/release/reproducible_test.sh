#!/usr/bin/env bash
# A second build of the same sources in another directory gives a byte-identical DLL: no link
# timestamp, no build path in the debug information.
# usage: reproducible_test.sh <vexorin.dll of this tree> <second build directory> <cmake configure args...>
set -u
dll=$(realpath "$1")
second=$2; shift 2
rm -rf "$second"
if ! cmake -B "$second" "$@" >"$second.log" 2>&1 || ! cmake --build "$second" --target vexorin -j "$(nproc)" >>"$second.log" 2>&1; then
  tail -30 "$second.log"; echo "FAIL the second build failed"; exit 1
fi
again="$second/com/vexorin.dll"
if cmp -s "$dll" "$again"; then
  echo "ok   $(stat -c %s "$dll") bytes, identical in $(dirname "$dll") and $(dirname "$again")"
  rm -rf "$second" "$second.log"
  exit 0
fi
echo "FAIL the two builds differ in $(cmp -l "$dll" "$again" 2>/dev/null | wc -l) bytes (first differences below)"
cmp -l "$dll" "$again" | head -5
exit 1
