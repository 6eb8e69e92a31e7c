#!/usr/bin/env bash
# Runs one fuzz target for a fixed time from a copy of its committed seed corpus (the committed one
# stays as it is). usage: run_fuzz.sh <target> <corpus dir> <seconds>
set -uo pipefail
target=$1 corpus=$2 seconds=$3
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
cp -r "$corpus/." "$work/"
"$target" -artifact_prefix="${TMPDIR:-/tmp}/vexorin-fuzz-" -max_total_time="$seconds" -rss_limit_mb=2560 -max_len=4096 -print_final_stats=1 "$work" 2>&1 | tail -n 12
