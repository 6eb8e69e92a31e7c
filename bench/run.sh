#!/usr/bin/env bash
# Every benchmark ratio in one run: time against the floors (picture_bench: render + encode, the
# peer, SaveToFile; number_bench: GenerateRnd; image_bytes_bench: GetImage against encoding to
# memory; audio_bench: GetAudio) and instruction counts under callgrind
# (GetImage and render + encode against their floors).
#   bench/run.sh [build/native]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/native}
pin() { if command -v taskset >/dev/null; then taskset -c 1 "$@"; else "$@"; fi; }

echo "== time: picture (render + encode, SaveToFile, the peer)"
pin "$build/bench/picture_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true | sed -n '/^size /,$p'
echo "== time: GenerateRnd (number and picture seed from the system's generator) against one bare getrandom"
pin "$build/bench/number_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>/dev/null |
  awk '/_median/ { sub(/_median/, "", $1); t[$1] = $4; order[++n] = $1 }
       END { for (i = 1; i <= n; ++i) printf "%-22s %8.0f ns CPU %6.2f x floor\n", order[i], t[order[i]], t[order[i]] / t["BM_FloorGetrandom"] }'
echo "== time: GetImage against libjpeg encoding to memory and one copy"
pin "$build/bench/image_bytes_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true | sed -n '/^size /,$p'

echo "== time: GetAudio, 6 digits (clean and the default noise) against the clips pasted"
pin "$build/bench/audio_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true | sed -n '/^6 digits /,$p'

if command -v valgrind >/dev/null; then
  echo "== instructions (callgrind; per call: the count of 200 calls less the count of none)"
  count() {  # operation size calls
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$build/bench/instructions" "$@" 2>&1 |
      sed -n 's/.*Collected : *\([0-9]*\).*/\1/p'
  }
  printf '%-8s %-16s %14s %14s %8s\n' size measure ours floor ratio
  for size in 0 1; do
    name=$([ $size = 0 ] && echo 120x30 || echo 900x200)
    for pair in "getimage floor-memory" "render-encode floor-memory"; do
      set -- $pair
      zero=$(count "$1" $size 0)
      ours=$(( ($(count "$1" $size 200) - zero) / 200 ))
      floor=$(( ($(count "$2" $size 200) - zero) / 200 ))
      printf '%-8s %-16s %14d %14d %8.3f\n' "$name" "$1" "$ours" "$floor" "$(awk -v a="$ours" -v b="$floor" 'BEGIN { print a / b }')"
    done
  done
fi
