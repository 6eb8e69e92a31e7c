#!/usr/bin/env bash
# The main job: builds the command-line tool and draws a picture (default captcha.jpg in the current
# directory), printing its number. Any vexorin options may follow, e.g. --digits 6 --noise.
# The tool's own tree (build/tool) needs no test or benchmark library.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup-native.sh" --tool
tree="$root/build/tool"
mkdir -p "$tree"
# Quiet when it works; the whole log when a step fails.
quiet() {
  "$@" >"$tree.log" 2>&1 && return 0
  cat "$tree.log" >&2
  echo "draw: '$*' failed (log: $tree.log)" >&2
  exit 1
}
quiet cmake -S "$root" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXORIN_TESTS=OFF
quiet cmake --build "$tree" --target vexorin-cli
exec "$tree/vexorin" "$@"
