#!/usr/bin/env bash
# The native tool and each vexorin.exe under Wine (32- and 64-bit) must draw the same pictures:
# byte-identical PGM canvases and byte-identical JPEG files for the same options and seed.
# usage: fidelity_test.sh <native vexorin> <vexorin.exe> [<another vexorin.exe> ...]
set -u
native=$(realpath "$1"); shift
windows=()
for tool in "$@"; do windows+=("$(realpath "$tool")"); done
# Each program under the Wine loader of its own bitness (the PE header's machine field).
loader() {
  local pe machine
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' ')
  if [ "$machine" = 8664 ]; then echo /usr/lib/wine/wine64; else echo wine; fi
}
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
cases=0
for digits in "-d 1" "-d 8" "-d 9" "-n 000042"; do
  for height in 20 30 57 200; do
    for noise in "" "--noise"; do
      for seed in 0 999 4000000000; do
        args="$digits -H $height $noise --seed $seed"
        n1=$("$native" $args -f pgm -o n.pgm 2>/dev/null)
        "$native" $args -o n.jpg >/dev/null 2>&1
        for tool in "${windows[@]}"; do
          cases=$((cases + 1))
          rm -f w.pgm w.jpg
          w1=$($(loader "$tool") "$tool" $args -f pgm -o w.pgm 2>/dev/null | tr -d '\r')
          $(loader "$tool") "$tool" $args -o w.jpg >/dev/null 2>&1
          if [ "$n1" != "$w1" ] || [ -z "$n1" ]; then
            echo "FAIL $tool $args: numbers differ ($n1 / $w1)"; failures=$((failures + 1))
          elif ! cmp -s n.pgm w.pgm; then
            echo "FAIL $tool $args: canvases differ"; failures=$((failures + 1))
          elif ! cmp -s n.jpg w.jpg; then
            echo "FAIL $tool $args: JPEG files differ (canvases agree)"; failures=$((failures + 1))
          fi
        done
      done
    done
  done
done
echo "$cases cases compared against the native tool (${#windows[@]} Windows tool(s)), $failures differ"
[ $failures -eq 0 ]
