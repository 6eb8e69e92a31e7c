#!/usr/bin/env bash
# Prepares this machine for the Windows cross build and the Wine test runs. Idempotent; needs root
# for anything missing. Adds the i386 architecture and deb-src, then installs Debian's Wine, mingw-w64
# and nasm (nasm for libjpeg-turbo's SIMD code), and zip (the release archive).
set -euo pipefail

packages=(wine wine32:i386 wine64 g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix mingw-w64-tools nasm libwine-dev:i386 dpkg-dev zip)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  [ "$(id -u)" = 0 ] || { echo "setup-windows: missing: the i386 architecture; run as root to install" >&2; exit 1; }
  dpkg --add-architecture i386
fi
bash "$(dirname "$0")/apt-install.sh" --deb-src setup-windows "${packages[@]}"
