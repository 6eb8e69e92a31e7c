#!/usr/bin/env bash
# The command-line example saves a JPEG and prints its number.
set -u
wine=${VEXORIN_WINE:-wine}
dir=$(cd "$(dirname "$0")/../../../examples" && pwd)
out=$(mktemp -d); trap 'rm -rf "$out"' EXIT
cd "$dir"
number=$("$wine" cscript //nologo save-picture.vbs "$("$wine" winepath -w "$out/pic.jpg" | tr -d '\r')" 5 40 1 2>&1 | tr -d '\r')
status=0
[[ "$number" =~ ^[0-9]{5}$ ]] || { echo "FAIL the number printed: '$number'"; status=1; }
[ "$(head -c 2 "$out/pic.jpg" 2>/dev/null | od -An -tx1 | tr -d ' ')" = ffd8 ] || { echo "FAIL no JPEG written"; status=1; }
usage=$("$wine" cscript //nologo save-picture.vbs 2>&1 | tr -d '\r')
[[ "$usage" == usage:* ]] || { echo "FAIL no usage line without arguments"; status=1; }
[ $status -eq 0 ] && echo "all checks passed"
exit $status
