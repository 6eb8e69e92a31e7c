#!/usr/bin/env bash
# A process killed inside GetImage leaves no temporary file: the file is delete-on-close, and the
# system closes a dead process's handles. The kill is sent while a temporary file is seen to exist,
# several times over.
# usage: kill_test.sh <com_stress.exe> [rounds]   (Wine's environment set by the caller)
set -u
exe=$(realpath "$1")
rounds=${2:-5}
wine=${VEXORIN_WINE:-wine}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
windir="Z:$(printf '%s' "$dir" | tr / '\\')"  # Wine's drive Z: is the Unix root
failures=0
caught=0
for round in $(seq "$rounds"); do
  # The loader becomes the Windows process (no fork, emulated or not): its id is the one to kill,
  # and no other test's or tree's com_stress is touched.
  "$wine" "$exe" forever "$windir" >"$dir.out" 2>&1 &
  pid=$!
  started=$SECONDS
  seen=0
  # Wait for a temporary file to appear, then kill at once (no time for the call to finish).
  while [ $((SECONDS - started)) -lt 60 ]; do
    if [ -n "$(ls -A "$dir" 2>/dev/null)" ]; then
      kill -KILL "$pid" && seen=1
      break
    fi
  done
  wait 2>/dev/null
  [ $seen = 1 ] || { kill -KILL "$pid"; wait 2>/dev/null; }
  # The server closes the dead process's handles; give it a moment.
  for _ in $(seq 50); do [ -z "$(ls -A "$dir")" ] && break; sleep 0.1; done
  left=$(ls -A "$dir" | wc -l)
  if [ $seen = 1 ]; then caught=$((caught + 1)); fi
  if [ "$left" -ne 0 ]; then
    echo "FAIL round $round: $left temporary file(s) left after the kill: $(ls -A "$dir")"
    failures=$((failures + 1))
    rm -f "$dir"/*
  else
    echo "ok   round $round: killed $([ $seen = 1 ] && echo 'with a temporary file open' || echo 'without catching a file'), nothing left"
  fi
done
rm -f "$dir.out"
echo "$caught of $rounds kills landed while a temporary file existed; $failures left files behind"
[ $failures -eq 0 ] && [ "$caught" -gt 0 ]
