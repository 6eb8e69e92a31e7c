#!/usr/bin/env bash
# Runs pages.vbs with the example pages' include in front of it, as the host would include it
# (Wine's VBScript has no ExecuteGlobal to load it at run time).
set -u
here=$(cd "$(dirname "$0")" && pwd)
combined="$here/pages-combined-$$.vbs"
trap 'rm -f "$combined"' EXIT
{ sed -e 's/<%//g' -e 's/%>//g' "$here/../../examples/captcha.inc"; cat "$here/pages.vbs"; } > "$combined"
bash "$here/../run_script.sh" "$combined"
