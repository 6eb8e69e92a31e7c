#!/usr/bin/env bash
# Builds hiredis 1.0.3 as a static library from the copy inside Debian's own `redis` source package
# (deps/hiredis; Debian's separate hiredis 0.14.1 has no Windows networking), for one mingw-w64
# target or for this machine, into a cache directory keyed by version and target; reuses it when
# present. Installs the headers under include/hiredis, lib/libhiredis.a and the licence (COPYING).
# Prints the install prefix.
#   usage: build-hiredis.sh [native (default) | i686-w64-mingw32 | x86_64-w64-mingw32]
set -euo pipefail
version=1.0.3
redis=7.0.15
target=${1:-native}
root=$(cd "$(dirname "$0")/.." && pwd)
toolchain=()
case "$target" in
  native) ;;
  i686-w64-mingw32|x86_64-w64-mingw32) toolchain=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/$target.cmake") ;;
  *) echo "build-hiredis: unknown target '$target'" >&2; exit 2 ;;
esac
cache=${VEXORIN_CACHE:-${XDG_CACHE_HOME:-${HOME:-$root/build}/.cache}/vexorin}
prefix="$cache/hiredis-$version-$target"
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(
  cd "$work"
  apt-get source --download-only -qq redis >/dev/null 2>&1 || true
  tarball=$(ls redis_${redis}.orig.tar.* 2>/dev/null | head -n 1)
  if [ -z "$tarball" ]; then
    echo "build-hiredis: Debian's source of redis $redis is not available (deb-src: scripts/setup-windows.sh adds it)" >&2
    exit 1
  fi
  tar xf "$tarball" "redis-$redis/deps/hiredis"
  src="redis-$redis/deps/hiredis"
  grep -q "^#define HIREDIS_PATCH 3$" "$src/hiredis.h" ||
    { echo "build-hiredis: $src is not hiredis $version" >&2; exit 1; }
  # Only the static library: its own tests and examples are not ours to build.
  cmake -S "$src" -B build -G Ninja ${toolchain[@]+"${toolchain[@]}"} \
    -DCMAKE_BUILD_TYPE=Release -DDISABLE_TESTS=ON -DENABLE_SSL=OFF >build.log 2>&1 ||
    { cat build.log >&2; exit 1; }
  cmake --build build --target hiredis_static >>build.log 2>&1 || { tail -50 build.log >&2; exit 1; }
  rm -rf "$prefix"
  mkdir -p "$prefix/include/hiredis" "$prefix/lib" "$prefix/share/doc/hiredis"
  cp "$src"/{hiredis.h,read.h,sds.h,alloc.h,async.h,sockcompat.h} "$prefix/include/hiredis/"
  cp build/libhiredis_static.a "$prefix/lib/libhiredis.a"
  cp "$src/COPYING" "$prefix/share/doc/hiredis/COPYING"
)
touch "$prefix/.complete"
echo "$prefix"
