#!/usr/bin/env bash
# The README's test command. Prepares this machine, then builds and tests each tree of the list
# below in turn, printing every stage with its elapsed time, and ends with one summary line per tree.
# Fails when a set-up step, a build or a test fails, or a tree has no tests.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
# Wine and the dependency cache live under HOME; a bare CI environment may not set it.
export HOME="${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}"
started=$SECONDS
stage() { echo "== [$((SECONDS - started))s] $*"; }
status=0
summary=()
fail() { summary+=("$1"); status=1; }

# --- The machine -----------------------------------------------------------------------------
stage "set-up: native packages"
bash "$root/scripts/setup-native.sh" || exit 1
stage "set-up: Windows cross build and Wine"
bash "$root/scripts/setup-windows.sh" || exit 1
. "$root/scripts/wine.sh"
# 32-bit Windows programs: natively where the kernel runs 32-bit code, else under qemu-i386.
if [ "$(wine_mode)" != native ]; then
  stage "set-up: 32-bit Wine under qemu-i386 (this kernel runs no 32-bit programs)"
  if bash "$root/scripts/emulation/setup.sh" "$wine_emulation"; then
    export VEXORIN_WINE32_MODE=emulated
  else
    fail "set-up: 32-bit Wine under emulation FAILED"
    export VEXORIN_WINE32_MODE=none
  fi
fi
wine_mode >/dev/null
export VEXORIN_WINE32_MODE
case "$VEXORIN_WINE32_MODE" in
  native) ran32="ran natively" ;;
  emulated) ran32="ran emulated (qemu-i386)" ;;
  *) ran32="NOT RUN: this machine runs no 32-bit programs" ;;
esac

# --- Steps of a tree ---------------------------------------------------------------------------
build() {  # name, dir, cmake args...
  local name=$1 dir=$2; shift 2
  stage "$name: configure and build"
  if ! cmake -S "$root" -B "$dir" -G Ninja -DVEXORIN_WERROR=ON "$@" >"$dir.configure.log" 2>&1; then
    cat "$dir.configure.log"; fail "$name: configure FAILED"; return 1
  fi
  if ! cmake --build "$dir" -j "$jobs" >"$dir.build.log" 2>&1; then
    grep -E 'error|FAILED' -A5 "$dir.build.log" | head -80; fail "$name: build FAILED"; return 1
  fi
}
check() {  # name, dir, note for the summary line, ctest args...: the tree's one summary line
  local name=$1 dir=$2 note=$3 line skipped retried ok=1; shift 3
  stage "$name: tests"
  (cd "$dir" && ctest --output-on-failure --no-tests=error "$@" 2>&1 | tee "$dir.ctest.log"; exit "${PIPESTATUS[0]}") || ok=0
  line="$name: $(grep -E 'tests passed|No tests were found' "$dir.ctest.log" | tail -n 1)"
  [ $ok = 1 ] || { line="$line FAILED"; status=1; }
  [ -n "$note" ] && line="$line; $note"
  # Wine starts made again (scripts/wine.sh run) are counted, never hidden.
  retried=$(cat "$dir/wineprefix/restarts.log" 2>/dev/null | wc -l)
  [ "${retried:-0}" -gt 0 ] && line="$line; $retried Wine start(s) made again after an empty start"
  # A skipped test passed nothing: name it.
  skipped=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$dir.ctest.log" | tr '\n' ' ')
  [ -n "$skipped" ] && line="$line; SKIPPED: ${skipped% }"
  summary+=("$line")
}
windows_build() {  # name, mingw target, cmake args...
  local name=$1 target=$2 jpeg; shift 2
  stage "$name: libjpeg-turbo for $target"
  jpeg=$(bash "$root/scripts/build-libjpeg-mingw.sh" "$target") || { fail "$name: libjpeg-turbo build FAILED"; return 1; }
  build "$name" "$root/build/$name" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$target.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXORIN_JPEG_PREFIX="$jpeg" -DVEXORIN_BENCH=ON \
    -DVEXORIN_NATIVE_TOOL="$root/build/native/vexorin" "$@"
}
wine_check() {  # name, wine arch, note: the tree's tests in its own prefix, its server up throughout
  local dir="$root/build/$1"
  stage "$1: Wine prefix"
  bash "$root/scripts/wine.sh" start "$dir/wineprefix" "$2"
  check "$1" "$dir" "$3" -j "$jobs"
  bash "$root/scripts/wine.sh" stop "$dir/wineprefix"
}

# --- The trees -----------------------------------------------------------------------------------
trees=(native sanitize fuzz win32 win64)
tree_native() {
  build native "$root/build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
    check native "$root/build/native" "" -j "$jobs"
}
tree_sanitize() {
  build sanitize "$root/build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DVEXORIN_SANITIZE=ON -DVEXORIN_BENCH=OFF &&
    check sanitize "$root/build/sanitize" "" -j "$jobs"
}
tree_fuzz() {
  CC=clang CXX=clang++ build fuzz "$root/build/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXORIN_FUZZ=ON &&
    check fuzz "$root/build/fuzz" "" -j "$jobs"
}
win32_built=0
tree_win32() {
  windows_build win32 i686-w64-mingw32 || return 1
  win32_built=1
  if [ "$VEXORIN_WINE32_MODE" = none ]; then
    # What runs no Windows code (imports, reproducibility) still runs.
    check win32 "$root/build/win32" "the Wine tests $ran32" -L host -j "$jobs"
  else
    wine_check win32 win32 "the Wine tests $ran32"
  fi
}
# The 64-bit prefix holds the 32-bit side too: the side-by-side, install and fidelity tests use the
# 32-bit tree's DLL, client and tool, and the release archive made from both trees.
tree_win64() {
  local win32_tree="" win32_tool="" zip
  if [ $win32_built = 1 ]; then
    win32_tree="$root/build/win32"
    [ "$VEXORIN_WINE32_MODE" != none ] && win32_tool="$win32_tree/vexorin.exe"
  fi
  zip=$(bash "$root/scripts/package.sh" --path) || { fail "release: FAILED"; return 1; }
  windows_build win64 x86_64-w64-mingw32 -DVEXORIN_WIN32_BUILD="$win32_tree" -DVEXORIN_WIN32_TOOL="$win32_tool" \
    -DVEXORIN_RELEASE_ZIP="$zip" || return 1
  if [ $win32_built = 1 ]; then
    stage "release: package"
    bash "$root/scripts/package.sh" || fail "release: package FAILED"
  fi
  wine_check win64 win64 "the 32-bit side $ran32"
}

mkdir -p "$root/build"
for tree in "${trees[@]}"; do "tree_$tree"; done

stage "summary"
printf '%s\n' "${summary[@]}"
exit $status
