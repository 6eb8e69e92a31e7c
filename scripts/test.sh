#!/usr/bin/env bash
# Builds every tree and runs every test: native, native with address+undefined sanitizers, a short
# run of each fuzz target (clang, libFuzzer), and the 32- and 64-bit Windows cross builds under Wine,
# with the release archive made from them. Fails when a build fails, a test fails, or a tree has no tests.
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
  local skipped
  if (cd "$dir" && ctest --output-on-failure --no-tests=error "$@" 2>&1 | tee "$dir.ctest.log"; exit "${PIPESTATUS[0]}"); then
    summary+=("$name: $(grep -E 'tests passed' "$dir.ctest.log" | tail -n 1)")
  else
    summary+=("$name: $(grep -E 'tests passed|No tests were found' "$dir.ctest.log" | tail -n 1) FAILED"); status=1
  fi
  # A skipped test passed nothing: name it in the summary.
  skipped=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$dir.ctest.log" | tr '\n' ' ')
  [ -n "$skipped" ] && summary[-1]="${summary[-1]}; SKIPPED: ${skipped% }"
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

# The Windows trees: 32-bit, then 64-bit (whose side-by-side, install and fidelity tests use the
# 32-bit tree's DLL, client and tool, and the release archive made from both).
# Some kernels run no 32-bit programs (ia32 emulation off): there the 32-bit Wine tests cannot run,
# and the summary says so instead of passing them.
can_run_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }
windows_tree() {  # name, mingw target, cmake args...
  local name=$1 target=$2 jpeg; shift 2
  stage "$name: libjpeg-turbo for $target"
  if ! jpeg=$(bash "$root/scripts/build-libjpeg-mingw.sh" "$target"); then
    summary+=("$name: libjpeg-turbo build FAILED"); status=1; return 1
  fi
  configure_and_build "$name" "$root/build/$name" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$target.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXORIN_JPEG_PREFIX="$jpeg" -DVEXORIN_BENCH=ON \
    -DVEXORIN_NATIVE_TOOL="$native/vexorin" "$@"
}
windows_tests() {  # name, wine arch
  local name=$1 arch=$2 dir="$root/build/$1"
  bash "$root/scripts/wine-prefix.sh" start "$dir/wineprefix" "$arch"
  run_tests "$name" "$dir" -j "$jobs"
  bash "$root/scripts/wine-prefix.sh" stop "$dir/wineprefix"
}
have32=1; can_run_32bit || have32=0
win32_built=0; win64_built=0
windows_tree win32 i686-w64-mingw32 && win32_built=1
win32_tree=""; win32_tool=""
if [ $win32_built = 1 ]; then
  win32_tree="$root/build/win32"
  [ $have32 = 1 ] && win32_tool="$win32_tree/vexorin.exe"
fi
version=$(sed -n 's/^project(vexorin VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
windows_tree win64 x86_64-w64-mingw32 -DVEXORIN_WIN32_BUILD="$win32_tree" -DVEXORIN_WIN32_TOOL="$win32_tool" \
  -DVEXORIN_RELEASE_ZIP="$root/build/release/vexorin-$version.zip" && win64_built=1
if [ $win32_built = 1 ] && [ $win64_built = 1 ]; then
  stage "release: package"
  if ! bash "$root/scripts/package.sh"; then summary+=("release: package FAILED"); status=1; fi
fi
if [ $win32_built = 1 ]; then
  if [ $have32 = 1 ]; then
    windows_tests win32 win32
  else
    echo "win32: this kernel runs no 32-bit programs: only the tests that run no Windows code"
    run_tests win32 "$root/build/win32" -L host
    summary[-1]="${summary[-1]}; the Wine tests NOT RUN: this machine runs no 32-bit programs"
  fi
fi
[ $win64_built = 1 ] && windows_tests win64 win64

stage "summary"
printf '%s\n' "${summary[@]}"
exit $status
