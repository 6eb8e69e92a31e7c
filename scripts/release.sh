#!/usr/bin/env bash
# The release command: both DLLs and build/release/vexorin-<version>.zip, without the test suite.
# Installs only what that needs (as root; otherwise it names what is missing): CMake, Ninja, the
# mingw-w64 cross compilers and widl, nasm, dpkg-dev and deb-src (libjpeg-turbo's source comes from
# Debian's archive), the JSON headers, Node.js and npm (the pinned widget), zip, and the packages
# whose notices the archive carries. No Wine, no i386 architecture, no browser.
#   usage: release.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export HOME="${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}"
started=$SECONDS
stage() { echo "== [$((SECONDS - started))s] $*"; }

stage "set-up: packages"
packages=(cmake ninja-build g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix mingw-w64-tools nasm dpkg-dev
          nlohmann-json3-dev libflite1 zip)
command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm)
# deb-src: libjpeg-turbo's source comes from Debian's archive.
bash "$root/scripts/apt-install.sh" --deb-src release "${packages[@]}"

# The two trees of the release only: the DLL target, no tests or benchmarks.
for target in i686-w64-mingw32 x86_64-w64-mingw32; do
  name=release-win32; [ "$target" = x86_64-w64-mingw32 ] && name=release-win64
  tree="$root/build/$name"
  stage "$name: libjpeg-turbo for $target"
  jpeg=$(bash "$root/scripts/build-libjpeg-mingw.sh" "$target")
  stage "$name: configure and build vexorin.dll"
  mkdir -p "$tree"
  if ! { cmake -S "$root" -B "$tree" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$target.cmake" \
           -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXORIN_JPEG_PREFIX="$jpeg" -DVEXORIN_TESTS=OFF -DVEXORIN_BENCH=OFF &&
         cmake --build "$tree" --target vexorin -j "$(nproc)"; } >"$tree.log" 2>&1; then
    tail -40 "$tree.log" >&2
    echo "release: the $name build failed (log: $tree.log)" >&2
    exit 1
  fi
done
stage "package"
bash "$root/scripts/package.sh" "$root/build/release-win32" "$root/build/release-win64"
stage "done"
