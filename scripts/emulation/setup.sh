#!/usr/bin/env bash
# 32-bit Wine for a kernel that runs no 32-bit code: Debian's own 32-bit Wine loader (wine32:i386,
# installed for its files) run under qemu-i386 user emulation, without binfmt_misc.
#   usage: setup.sh DIR      (scripts/wine.sh uses build/emulation)
# Makes DIR/wine32, used like Debian's 32-bit `wine`, and DIR/root/usr/lib/wine/wine64, the 64-bit
# loader whose processes start their 32-bit children through the emulation (both as scripts/wine.sh's
# loaders when this kernel refuses Debian's 32-bit loader).
# Three things make it work:
# - Wine starts every new 32-bit process as "<bin dir>/wine-preloader <bin dir>/wine <args>", a
#   64-bit process too (Wine 8 looks nowhere else: not in $WINELOADER, not on PATH); it takes the bin
#   dir from the real path of /proc/self/exe, which qemu reports as the guest program's. So both
#   loaders are copied (a link would resolve back to /usr/lib/wine) into a folder of their own whose
#   "wine-preloader" is a script that runs the 32-bit loader under qemu-i386; the 64-bit one runs
#   natively from there, and its neighbours (wineserver, ../../share, ../i386-linux-gnu,
#   ../x86_64-linux-gnu) are links to Debian's files.
# - qemu-i386 -R 0x7fff0000: with qemu's default 4 GiB reservation, each of Wine's ~65,000 start-up
#   address probes is a page-by-page scan (~50 s of CPU per process); ending the guest space just
#   above Wine's shared user data page (0x7ffe0000) makes a process start take about 1.5 s.
# - qemu-i386 built from Debian's source with qemu-i386-wine.patch (build-qemu.sh): stock qemu-user
#   crashes multi-threaded Wine programs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../wine.sh"  # Debian's loaders: $wine_native32, $wine_native64
dir=$(mkdir -p "$1" && cd "$1" && pwd)

# What building qemu needs, beyond the Windows set-up's packages (dpkg-dev, deb-src).
packages=(meson ninja-build pkg-config libglib2.0-dev xz-utils patch)
bash "$here/../apt-install.sh" emulation "${packages[@]}"
[ -f "$wine_native32" ] || { echo "emulation: Debian's 32-bit Wine loader (wine32:i386) is not installed" >&2; exit 1; }

qemu=$(bash "$here/build-qemu.sh")

bin="$dir/root/usr/lib/wine"
rm -rf "$dir/root" "$dir/wine32"
mkdir -p "$bin"
cp "$wine_native32" "$bin/wine"
cp "$wine_native64" "$bin/wine64"
ln -s "$(dirname "$wine_native64")/wineserver" "$bin/wineserver"
for d in lib/i386-linux-gnu lib/x86_64-linux-gnu share bin; do ln -s "/usr/$d" "$dir/root/usr/$d"; done
cat >"$bin/wine-preloader" <<EOF
#!/bin/sh
# Stands in for Wine's preloader: runs "<loader> <args>" under qemu-i386 (scripts/emulation/setup.sh).
# WINELOADERNOEXEC: the loader is already where it should be; it must not exec itself again.
export WINELOADERNOEXEC=1
exec '$qemu' -R 0x7fff0000 "\$@"
EOF
chmod +x "$bin/wine-preloader"
cat >"$dir/wine32" <<EOF
#!/bin/sh
# Debian's 32-bit Wine loader under qemu-i386 (scripts/emulation/setup.sh); use it like wine.
exec '$bin/wine-preloader' '$bin/wine' "\$@"
EOF
chmod +x "$dir/wine32"
# The loader answers --version only on its first start (it skips its command line once
# WINELOADERNOEXEC is set), so ask it directly: that proves qemu, the loader and its libraries.
if ! version=$("$qemu" -R 0x7fff0000 "$bin/wine" --version 2>&1); then
  echo "emulation: the emulated 32-bit loader does not start: $version" >&2
  exit 1
fi
echo "emulation: $version under $(basename "$(dirname "$qemu")")"
