#!/usr/bin/env bash
# A process killed inside GetImage leaves no temporary file: the file is delete-on-close, and the
# system closes a dead process's handles. The kill is sent while a temporary file with the picture
# in it is seen to exist, several times over. Not at the first sight of any file: Wine's _tempnam
# reserves each name by creating an empty file and deleting it again (GetTempFileName, DeleteFile),
# and a kill between the two leaves that file behind, the test platform's and not the component's
# (Windows' _tempnam creates no file); under emulation the kill lands there about one time in five.
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
  # Wait for the picture to be in a temporary file, then kill at once (no time for the call to finish).
  while [ $((SECONDS - started)) -lt 60 ]; do
    if [ -n "$(find "$dir" -type f -size +0c 2>/dev/null)" ]; then
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
    echo "FAIL round $round: $left temporary file(s) left after the kill: $(cd "$dir" && stat -c '%n (%s bytes)' -- *)"
    failures=$((failures + 1))
    rm -f "$dir"/*
  else
    echo "ok   round $round: killed $([ $seen = 1 ] && echo 'with the picture in a temporary file' || echo 'without catching a file'), nothing left"
  fi
done
rm -f "$dir.out"
echo "$caught of $rounds kills landed while a written temporary file existed; $failures left files behind"
[ $failures -eq 0 ] && [ "$caught" -gt 0 ]
