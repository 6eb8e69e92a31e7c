#!/usr/bin/env bash
# The pinned altcha widget's solve time in Debian's headless chromium on this machine, at a cost:
# RUNS page loads in one browser, each solving a fresh challenge from the tool; prints the mean,
# median, 90th percentile and maximum of the time from the page's start to "verified" (the
# widget's own minimum display time set to 0) and of the solver's own time, and checks every
# payload with the tool.
#   bench/work_widget.sh [tool] [cost] [runs]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "${1:-$root/build/native/vexorin}")
cost=${2:-20000}  # the component's default Cost
runs=${3:-20}
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
cp "$root/tests/site/pages/altcha.html" "$root/tests/site/node_modules/altcha/dist/main/altcha.js" "$work/"
node "$root/tests/site/browser.mjs" "$work" altcha.html --repeat "$runs" --timeout 900 \
  --route "challenge.json=$(printf '%q' "$tool") --challenge --cost $cost --secret bench" >"$work/answers"
unverified=0
while read -r line; do
  payload=$(printf '%s' "$line" | node -e 'let s="";process.stdin.on("data",d=>s+=d).on("end",()=>console.log(JSON.parse(s).payload||""))')
  "$tool" --verify "$payload" --cost "$cost" --secret bench >/dev/null || unverified=$((unverified + 1))
done <"$work/answers"
node -e '
const lines = require("fs").readFileSync(process.argv[1], "utf8").trim().split("\n").map(JSON.parse);
const pick = (key) => lines.map((a) => a[key]).sort((x, y) => x - y);
const at = (v, q) => v[Math.min(v.length - 1, Math.ceil(q * v.length) - 1)];
const wall = pick("ms"), solver = pick("solverMs"), counters = pick("counter");
const mean = (v) => v.reduce((a, b) => a + b, 0) / v.length;
console.log(`cost ${process.argv[2]}, ${lines.length} solves, ${lines[0].workers} workers: page to verified mean ${mean(wall).toFixed(0)} ms, median ${at(wall, 0.5).toFixed(0)} ms, p90 ${at(wall, 0.9).toFixed(0)} ms, max ${wall[wall.length - 1].toFixed(0)} ms; solver mean ${mean(solver).toFixed(0)} ms, p90 ${at(solver, 0.9).toFixed(0)} ms, max ${solver[solver.length - 1].toFixed(0)} ms; mean counter ${mean(counters).toFixed(0)}, ${(mean(solver) / (mean(counters) + 1) * 1000).toFixed(0)} us an attempt (all workers)`);
' "$work/answers" "$cost"
echo "payloads the tool did not verify: $unverified of $runs; load average $(cut -d' ' -f1-3 /proc/loadavg)"
[ "$unverified" -eq 0 ]
