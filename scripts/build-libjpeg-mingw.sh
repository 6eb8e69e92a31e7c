#!/usr/bin/env bash
# Builds libjpeg-turbo 2.1.5 from Debian's source package as a static Windows library with SIMD for
# one mingw-w64 target, into a cache directory keyed by version and target; reuses it when present.
# Prints the install prefix.
#   usage: build-libjpeg-mingw.sh [i686-w64-mingw32 (default) | x86_64-w64-mingw32]
set -euo pipefail
version=2.1.5
target=${1:-i686-w64-mingw32}
case "$target" in
  i686-w64-mingw32) simd=i386 ;;
  x86_64-w64-mingw32) simd=x86_64 ;;
  *) echo "build-libjpeg-mingw: unknown target '$target'" >&2; exit 2 ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
cache=$(bash "$root/scripts/cache-dir.sh")
prefix="$cache/libjpeg-turbo-$version-$target"
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(
  cd "$work"
  apt-get source --download-only -qq "libjpeg-turbo=1:$version-2" >/dev/null 2>&1 ||
    apt-get source --download-only -qq libjpeg-turbo >/dev/null
  tarball=$(ls libjpeg-turbo_${version}.orig.tar.* 2>/dev/null | head -n 1)
  if [ -z "$tarball" ]; then
    echo "build-libjpeg-mingw: Debian's source of libjpeg-turbo $version is not available" >&2
    exit 1
  fi
  tar xf "$tarball"
  cmake -S "libjpeg-turbo-$version" -B build -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$target.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_SIMD=ON \
    -DCMAKE_ASM_NASM_COMPILER=nasm >build.log 2>&1 || { cat build.log >&2; exit 1; }
  grep -q "SIMD extensions: $simd (WITH_SIMD = 1)" build.log ||
    { echo "build-libjpeg-mingw: $simd SIMD was not enabled" >&2; grep -i simd build.log >&2; exit 1; }
  cmake --build build -j "$(nproc)" >>build.log 2>&1 || { tail -50 build.log >&2; exit 1; }
  cmake --install build >>build.log 2>&1
)
touch "$prefix/.complete"
echo "$prefix"
