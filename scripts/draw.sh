#!/usr/bin/env bash
# The main job: builds the command-line tool and draws a picture (default captcha.jpg in the current
# directory), printing its number. Any vexorin options may follow, e.g. --digits 6 --noise.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup-native.sh"
cmake -S "$root" -B "$root/build/native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build/native" --target vexorin-cli >/dev/null
exec "$root/build/native/vexorin" "$@"
