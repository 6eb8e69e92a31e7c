#!/usr/bin/env bash
# The native tool and vexorin.exe under Wine must draw the same pictures: byte-identical PGM canvases
# and byte-identical JPEG files for the same options and seed.
# usage: fidelity_test.sh <native vexorin> <vexorin.exe>
set -u
native=$(realpath "$1")
windows=$(realpath "$2")
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
cases=0
for digits in "-d 1" "-d 8" "-d 9" "-n 000042"; do
  for height in 20 30 57 200; do
    for noise in "" "--noise"; do
      for seed in 0 999 4000000000; do
        args="$digits -H $height $noise --seed $seed"
        cases=$((cases + 1))
        n1=$("$native" $args -f pgm -o n.pgm 2>/dev/null)
        w1=$(wine "$windows" $args -f pgm -o w.pgm 2>/dev/null | tr -d '\r')
        "$native" $args -o n.jpg >/dev/null 2>&1
        wine "$windows" $args -o w.jpg >/dev/null 2>&1
        if [ "$n1" != "$w1" ] || [ -z "$n1" ]; then
          echo "FAIL $args: numbers differ ($n1 / $w1)"; failures=$((failures + 1))
        elif ! cmp -s n.pgm w.pgm; then
          echo "FAIL $args: canvases differ"; failures=$((failures + 1))
        elif ! cmp -s n.jpg w.jpg; then
          echo "FAIL $args: JPEG files differ (canvases agree)"; failures=$((failures + 1))
        fi
      done
    done
  done
done
echo "$cases cases, $failures failed"
[ $failures -eq 0 ]
