#!/usr/bin/env bash
# Builds qemu-i386 (user emulation) from Debian's qemu source package with qemu-i386-wine.patch, as
# one static program, into a cache directory keyed by the source version and the patch's hash;
# reuses it when present. Prints the program's path.
# Stock qemu-user keeps one emulated GDT for all threads of a process, so each new thread's
# set_thread_area (Wine's per-thread %fs) overwrites the others' and multi-threaded programs crash;
# the patch gives every thread its own copy, and puts the real trap number in signal frames (Wine
# tells a page fault from other faults by it).
# Needs deb-src in the apt sources (scripts/setup-windows.sh adds it) and the build packages
# (scripts/emulation/setup.sh installs them).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
patch="$here/qemu-i386-wine.patch"
cache=$(bash "$root/scripts/cache-dir.sh")
# The version apt-get source would fetch now, without fetching it.
version=$(apt-get source --print-uris -qq qemu 2>/dev/null | sed -n "s/^'[^']*' qemu_\(.*\)\.dsc .*/\1/p" | head -n 1)
if [ -z "$version" ]; then
  echo "build-qemu: Debian's qemu source is not available (no deb-src line in the apt sources?)" >&2
  exit 1
fi
key="${version//[^A-Za-z0-9.+-]/_}-$(sha256sum "$patch" | cut -c1-12)"
prefix="$cache/qemu-i386-wine-$key"
if [ -x "$prefix/qemu-i386" ] && [ -f "$prefix/.complete" ]; then
  echo "$prefix/qemu-i386"
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(
  cd "$work"
  apt-get source -qq qemu >source.log 2>&1 || { cat source.log >&2; exit 1; }
  src=$(find . -maxdepth 1 -type d -name 'qemu-*' | head -n 1)
  [ -n "$src" ] || { echo "build-qemu: no source tree unpacked" >&2; exit 1; }
  patch -d "$src" -p1 <"$patch" >patch.log || { cat patch.log >&2; exit 1; }
  mkdir build
  cd build
  # User emulation of i386 only, static, nothing that the emulator itself does not need.
  "../$src/configure" --target-list=i386-linux-user --static --disable-system --disable-tools \
    --disable-docs --disable-werror --disable-capstone --disable-gnutls --disable-nettle \
    --disable-gcrypt --disable-vnc --disable-slirp --disable-fdt >../configure.log 2>&1 ||
    { tail -40 ../configure.log >&2; exit 1; }
  ninja -j"$(nproc)" qemu-i386 >../build.log 2>&1 || { grep -E 'error|FAILED' -A5 ../build.log | head -60 >&2; exit 1; }
  mkdir -p "$prefix"
  install -m755 qemu-i386 "$prefix/qemu-i386"
)
touch "$prefix/.complete"
echo "$prefix/qemu-i386"
