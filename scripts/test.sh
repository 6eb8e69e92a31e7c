#!/usr/bin/env bash
# Builds every tree and runs every test: native, native with address+undefined sanitizers, a short
# run of each fuzz target (clang, libFuzzer), and the Windows cross build under Wine. Fails when a build fails, a test fails, or a tree has no tests.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
# Wine and the dependency cache live under HOME; a bare CI environment may not set it.
export HOME="${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}"
started=$SECONDS
stage() { echo "== [$((SECONDS - started))s] $*"; }

stage "set-up: native packages"
bash "$root/scripts/setup-native.sh" || exit 1
stage "set-up: Windows cross build and Wine"
bash "$root/scripts/setup-windows.sh" || exit 1

status=0
summary=()
configure_and_build() {  # name, dir, cmake args...
  local name=$1 dir=$2; shift 2
  stage "$name: configure and build"
  if ! cmake -S "$root" -B "$dir" -G Ninja -DVEXORIN_WERROR=ON "$@" >"$dir.configure.log" 2>&1; then
    cat "$dir.configure.log"; summary+=("$name: configure FAILED"); status=1; return 1
  fi
  if ! cmake --build "$dir" -j "$jobs" >"$dir.build.log" 2>&1; then
    grep -E 'error|FAILED' -A5 "$dir.build.log" | head -80; summary+=("$name: build FAILED"); status=1; return 1
  fi
}
run_tests() {  # name, dir, ctest args...
  local name=$1 dir=$2; shift 2
  stage "$name: tests"
  if (cd "$dir" && ctest --output-on-failure --no-tests=error "$@" 2>&1 | tee "$dir.ctest.log"; exit "${PIPESTATUS[0]}"); then
    summary+=("$name: $(grep -E 'tests passed' "$dir.ctest.log" | tail -n 1)")
  else
    summary+=("$name: $(grep -E 'tests passed|No tests were found' "$dir.ctest.log" | tail -n 1) FAILED"); status=1
  fi
}

mkdir -p "$root/build"
native="$root/build/native"
if configure_and_build native "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo; then
  run_tests native "$native" -j "$jobs"
fi
if configure_and_build sanitize "$root/build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DVEXORIN_SANITIZE=ON -DVEXORIN_BENCH=OFF; then
  run_tests sanitize "$root/build/sanitize" -j "$jobs"
fi

if CC=clang CXX=clang++ configure_and_build fuzz "$root/build/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXORIN_FUZZ=ON; then
  run_tests fuzz "$root/build/fuzz" -j "$jobs"
fi

win="$root/build/win32"
stage "win32: libjpeg-turbo for mingw"
if jpeg=$(bash "$root/scripts/build-libjpeg-mingw.sh"); then
  if configure_and_build win32 "$win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i686-w64-mingw32.cmake" \
       -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXORIN_JPEG_PREFIX="$jpeg" -DVEXORIN_BENCH=ON \
       -DVEXORIN_NATIVE_TOOL="$native/vexorin"; then
    # Wine runs 32-bit Windows programs through its 32-bit loader, a 32-bit Linux program: a kernel
    # or sandbox without 32-bit support cannot start it, so the tree is built but not run there.
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then
      bash "$root/scripts/wine-prefix.sh" start "$win/wineprefix"
      run_tests win32 "$win"
      bash "$root/scripts/wine-prefix.sh" stop "$win/wineprefix"
    else
      stage "win32: NOT RUN: this machine cannot execute 32-bit programs (Wine's 32-bit loader fails to start)"
      summary+=("win32: built; tests NOT RUN: this machine cannot execute 32-bit programs")
    fi
  fi
else
  summary+=("win32: libjpeg-turbo build FAILED"); status=1
fi

stage "summary"
printf '%s\n' "${summary[@]}"
exit $status
