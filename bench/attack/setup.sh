#!/usr/bin/env bash
# Installs what the picture and sound attackers need, at the versions their figures were measured
# with: tesseract (the off-the-shelf reader), torch on the CPU (the learned ones), numpy, PIL, scipy.
# A benchmark's dependency, never the test command's. Idempotent; needs root only when something is missing.
set -euo pipefail
packages=(tesseract-ocr=5.3.0-2 tesseract-ocr-eng=1:4.1.0-2 python3-torch=1.13.1+dfsg-4
          python3-numpy=1:1.24.2-1+deb12u1 python3-pil=9.4.0-1.1+deb12u1 python3-scipy=1.10.1-2)
bash "$(dirname "$0")/../../scripts/apt-install.sh" "attack set-up" "${packages[@]}"
