#!/usr/bin/env bash
# Builds every tree and runs every test: native, native with address+undefined sanitizers.
# Fails when a build fails, a test fails, or a tree has no tests to run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
bash "$root/scripts/setup-native.sh"

status=0
summary=()
run_tree() {  # name, build dir, extra cmake args...
  local name=$1 dir=$2; shift 2
  echo "== $name: configure and build"
  if ! cmake -S "$root" -B "$dir" -G Ninja -DVEXORIN_WERROR=ON "$@" >"$dir.configure.log" 2>&1; then
    cat "$dir.configure.log"; summary+=("$name: configure FAILED"); status=1; return
  fi
  if ! cmake --build "$dir" -j "$jobs"; then
    summary+=("$name: build FAILED"); status=1; return
  fi
  echo "== $name: tests"
  if (cd "$dir" && ctest --output-on-failure --no-tests=error -j "$jobs" | tee "$dir.ctest.log"); then
    summary+=("$name: $(grep -E 'tests passed' "$dir.ctest.log" | tail -n 1)")
  else
    summary+=("$name: $(grep -E 'tests passed|No tests were found' "$dir.ctest.log" | tail -n 1) FAILED"); status=1
  fi
}

mkdir -p "$root/build"
run_tree native "$root/build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_tree sanitize "$root/build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DVEXORIN_SANITIZE=ON -DVEXORIN_BENCH=OFF

echo "== summary"
printf '%s\n' "${summary[@]}"
exit $status
