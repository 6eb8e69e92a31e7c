#!/usr/bin/env bash
# Runs pages.vbs with the example pages' include in front of it, as the host would include it
# (Wine's VBScript has no ExecuteGlobal to load it at run time). The combined script is written to a
# temporary directory, never into the sources.
set -u
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
{ sed -e 's/<%//g' -e 's/%>//g' "$here/../../../examples/captcha.inc"; cat "$here/pages.vbs"; } > "$work/pages.vbs"
bash "$here/../run_script.sh" "$work/pages.vbs"
