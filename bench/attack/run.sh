#!/usr/bin/env bash
# The off-the-shelf picture reader (ocr_attack.py: tesseract) against the native tool, 250 pictures
# per configuration; configurations by number (0 default, 1 Noise, ...; all by default).
#   bench/attack/run.sh [build/native] [pictures] [configuration...]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/native}
count=${2:-250}
bash "$root/bench/attack/setup.sh"
shift $(( $# < 2 ? $# : 2 ))
exec /usr/bin/python3 "$root/bench/attack/ocr_attack.py" "$build/vexorin" "$count" "$(nproc)" "$@"
