#!/usr/bin/env bash
# The release archive is reproducible: packaging the same two trees again, in another directory, at
# a later second (strip used to write the time into each DLL's header), under another umask and time
# zone, gives the archive byte for byte.
# usage: release_reproducible_test.sh <release zip> <win32 tree> <win64 tree>
set -u
zip=$(realpath "$1"); win32=$2; win64=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
# A later second than the archive's making, without a timing assumption: wait for the clock to move.
made=$(stat -c %Y "$zip")
while [ "$(date +%s)" -le "$made" ]; do sleep 0.2; done
if ! (umask 077 && TZ=Pacific/Kiritimati bash "$root/scripts/package.sh" "$win32" "$win64" "$work" >"$work/log" 2>&1); then
  cat "$work/log"; echo "FAIL the second packaging failed"; exit 1
fi
again=$(ls "$work"/vexorin-*.zip)
if cmp -s "$zip" "$again"; then
  echo "ok   packaged again at $(date -u +%T) in $work: $(stat -c %s "$zip") bytes, identical (sha256 $(sha256sum "$zip" | cut -c1-16)...)"
  exit 0
fi
echo "FAIL the two archives differ in $(cmp -l "$zip" "$again" | wc -l) bytes"
# Which members differ, to say where to look.
mkdir "$work/a" "$work/b"
(cd "$work/a" && cmake -E tar xf "$zip") && (cd "$work/b" && cmake -E tar xf "$again") && diff -rq "$work/a" "$work/b" | head
exit 1
