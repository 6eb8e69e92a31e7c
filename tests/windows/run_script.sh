#!/usr/bin/env bash
# Runs a VBScript or JScript file through Wine's cscript from its own directory. Wine's cscript exits
# 0 even after a run-time error, so the script passes only with exit code 0 AND its sentinel as the
# last line of output. $VEXORIN_WINE picks the loader, and with it the cscript of that bitness.
set -uo pipefail
. "$(dirname "$0")/../../scripts/wine.sh"
wine=${VEXORIN_WINE:-wine}
script=$(realpath "$1")
cd "$(dirname "$script")"
output=$(wine_run "$wine" cscript //nologo "$(basename "$script")" 2>&1 | tr -d '\r')
status=$?
printf '%s\n' "$output"
last=$(printf '%s\n' "$output" | tail -n 1)
if [ $status -ne 0 ] || [ "$last" != "ALL CHECKS PASSED" ]; then
  echo "script failed (exit $status, last line: '$last')"
  exit 1
fi
