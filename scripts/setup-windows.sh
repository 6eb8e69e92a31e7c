#!/usr/bin/env bash
# Prepares this machine for the Windows cross build and the Wine test runs. Idempotent; needs root
# for anything missing. Adds the i386 architecture and deb-src, then installs Debian's Wine, mingw-w64
# and nasm (nasm for libjpeg-turbo's SIMD code), and zip (the release archive).
set -euo pipefail

packages=(wine wine32:i386 wine64 g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix mingw-w64-tools nasm libwine-dev:i386 dpkg-dev zip)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
has_i386=0; dpkg --print-foreign-architectures | grep -qx i386 && has_i386=1
sources=/etc/apt/sources.list.d/debian.sources
has_src=0; grep -Eq '^Types:.*deb-src' "$sources" 2>/dev/null && has_src=1
[ -f /etc/apt/sources.list ] && grep -Eq '^deb-src ' /etc/apt/sources.list && has_src=1

if [ ${#missing[@]} -eq 0 ] && [ $has_i386 = 1 ] && [ $has_src = 1 ]; then
  exit 0
fi
if [ "$(id -u)" != 0 ]; then
  echo "setup-windows: missing: ${missing[*]:-} $([ $has_i386 = 1 ] || echo 'i386 architecture') $([ $has_src = 1 ] || echo 'deb-src sources'); run as root to install" >&2
  exit 1
fi

[ $has_i386 = 1 ] || dpkg --add-architecture i386
if [ $has_src = 0 ]; then
  if [ -f "$sources" ]; then
    sed -i -E 's/^Types: deb$/Types: deb deb-src/' "$sources"
  else
    sed -n -E 's/^deb (.*)$/deb-src \1/p' /etc/apt/sources.list >> /etc/apt/sources.list
  fi
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
echo "setup-windows: installed ${missing[*]:-nothing new}"
