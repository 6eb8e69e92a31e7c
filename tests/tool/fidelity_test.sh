#!/usr/bin/env bash
# The native tool and each vexorin.exe under Wine (32- and 64-bit) must draw the same pictures:
# byte-identical PGM canvases and byte-identical JPEG files for the same options and seed.
# Each tool draws every case in one run (--batch): under emulated Wine a start per case would take
# most of the test's time. All tools run the same lines in the same order.
# usage: fidelity_test.sh <native vexorin> <vexorin.exe> [<another vexorin.exe> ...]
set -u
. "$(dirname "$0")/../../scripts/wine.sh"
native=$(realpath "$1"); shift
windows=()
for tool in "$@"; do windows+=("$(realpath "$tool")"); done
# Each program under the Wine loader of its own bitness (the PE header's machine field).
loader() {
  local pe machine
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' ')
  if [ "$machine" = 8664 ]; then wine_loader 64; else wine_loader 32; fi
}
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
cases=()
for digits in "-d 1" "-d 8" "-d 9" "-n 000042"; do
  for height in 20 30 57 200; do
    for noise in "" "--noise"; do
      for seed in 0 999 4000000000; do
        cases+=("$digits -H $height $noise --seed $seed")
      done
    done
  done
done
for i in "${!cases[@]}"; do
  echo "${cases[$i]} -f pgm -o $i.pgm"
  echo "${cases[$i]} -o $i.jpg"
done >"$work/cases.txt"
# draw DIR COMMAND...: the batch in DIR, the numbers printed (one per line) in DIR/numbers
draw() {
  local dir=$1; shift
  mkdir -p "$dir" && cp "$work/cases.txt" "$dir/" &&
    (cd "$dir" && "$@" --batch cases.txt 2>errors.txt | tr -d '\r' >numbers)
}
failures=0
draw "$work/native" "$native"
if [ "$(grep -c . "$work/native/numbers")" -ne $((2 * ${#cases[@]})) ]; then
  echo "FAIL the native tool drew $(grep -c . "$work/native/numbers") of $((2 * ${#cases[@]})) pictures"
  cat "$work/native/errors.txt"
  exit 1
fi
for t in "${!windows[@]}"; do
  tool=${windows[$t]}
  draw "$work/$t" "$(loader "$tool")" "$tool"
  for i in "${!cases[@]}"; do
    n=$(sed -n "$((2 * i + 1))p" "$work/native/numbers")
    w=$(sed -n "$((2 * i + 1))p" "$work/$t/numbers")
    if [ "$n" != "$w" ]; then
      echo "FAIL $tool ${cases[$i]}: numbers differ ($n / $w)"; failures=$((failures + 1))
    elif ! cmp -s "$work/native/$i.pgm" "$work/$t/$i.pgm"; then
      echo "FAIL $tool ${cases[$i]}: canvases differ"; failures=$((failures + 1))
    elif ! cmp -s "$work/native/$i.jpg" "$work/$t/$i.jpg"; then
      echo "FAIL $tool ${cases[$i]}: JPEG files differ (canvases agree)"; failures=$((failures + 1))
    fi
  done
  if ! cmp -s "$work/native/numbers" "$work/$t/numbers"; then
    echo "FAIL $tool: the printed numbers differ from the native tool's"; failures=$((failures + 1))
    head -5 "$work/$t/errors.txt"
  fi
done
echo "${#cases[@]} cases (a canvas and a JPEG file each) compared with the native tool's for each of" \
  "${#windows[@]} Windows tool(s) ($(for t in "${windows[@]}"; do basename "$(dirname "$t")"; done | tr '\n' ' ' | sed 's/ $//')): $failures differ"
[ $failures -eq 0 ]
