#!/usr/bin/env bash
# What each price costs a visitor and a program, side by side in one run: at each cost (the base
# and the doublings a flood is asked, to the default MaxCost) the pinned widget in chromium
# (bench/work_widget.sh) and a native solver on every core (work_attack), and the ratio of their
# times an attempt.
#   bench/work_levels.sh [build/native] [runs] [costs...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/native}")
runs=${2:-8}
shift $(( $# >= 2 ? 2 : $# ))
costs=("$@")
[ ${#costs[@]} -gt 0 ] || costs=(20000 40000 80000 160000)
for cost in "${costs[@]}"; do
  widget=$(bash "$root/bench/work_widget.sh" "$build/vexorin" "$cost" "$runs" | sed -n 1p)
  native=$("$build/bench/work_attack" "$cost" "$runs")
  echo "widget: $widget"
  echo "native: $native"
  w=$(sed -n 's/.*, \([0-9]*\) us an attempt.*/\1/p' <<<"$widget")
  n=$(sed -n 's/.*, \([0-9]*\) us an attempt.*/\1/p' <<<"$native")
  echo "cost $cost: the widget's time an attempt is $(awk -v w="$w" -v n="$n" 'BEGIN { printf "%.2f", w / n }') times the native solver's"
done
echo "load average $(cut -d' ' -f1-3 /proc/loadavg)"
