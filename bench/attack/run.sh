#!/usr/bin/env bash
# The picture-reading attacker (ocr_attack.py) against the native tool: 250 pictures per configuration.
#   bench/attack/run.sh [build/native] [pictures]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/native}
count=${2:-250}
need=()
command -v tesseract >/dev/null || need+=(tesseract-ocr tesseract-ocr-eng)
/usr/bin/python3 -c 'import numpy, PIL, scipy' 2>/dev/null || need+=(python3-numpy python3-pil python3-scipy)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then echo "ocr attack: needs ${need[*]} (apt-get install as root)" >&2; exit 1; fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${need[@]}" >/dev/null
fi
exec /usr/bin/python3 "$root/bench/attack/ocr_attack.py" "$build/vexorin" "$count" "$(nproc)"
