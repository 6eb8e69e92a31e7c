#!/usr/bin/env bash
# The sample pictures under docs/ (the reference shows them), drawn by the command-line tool with fixed seeds.
#   scripts/samples.sh make [tool]    draws them anew (default tool: build/native/vexorin, built first)
#   scripts/samples.sh check <tool>   fails when a sample differs from what the tool draws today
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# file, then the tool's options
samples=(
  "default.jpg --seed 1234"
  "six-digits-noise.jpg --digits 6 --noise --seed 2718"
  "tall.jpg --digits 5 --height 80 --seed 4000000000"
)
action=${1:-}
case "$action" in
  make)
    tool=${2:-}
    if [ -z "$tool" ]; then
      cmake -S "$root" -B "$root/build/native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
      cmake --build "$root/build/native" --target vexorin-cli >/dev/null
      tool="$root/build/native/vexorin"
    fi
    mkdir -p "$root/docs"
    for sample in "${samples[@]}"; do
      set -- $sample
      file=$1; shift
      number=$("$tool" "$@" -o "$root/docs/$file")
      echo "docs/$file: $number"
    done
    ;;
  check)
    tool=$2
    work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
    failures=0
    for sample in "${samples[@]}"; do
      set -- $sample
      file=$1; shift
      "$tool" "$@" -o "$work/$file" >/dev/null
      if cmp -s "$root/docs/$file" "$work/$file"; then
        echo "ok   docs/$file"
      else
        echo "FAIL docs/$file differs from what the tool draws with $*: run scripts/samples.sh make"
        failures=$((failures + 1))
      fi
    done
    [ $failures -eq 0 ]
    ;;
  *)
    echo "usage: samples.sh make [tool] | check <tool>" >&2
    exit 2
    ;;
esac
