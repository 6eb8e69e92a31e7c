#!/usr/bin/env bash
# Prints the cache of what the scripts build once and reuse (libjpeg-turbo for mingw, the patched
# qemu-i386): $VEXORIN_CACHE, else vexorin/ in the user's cache directory.
root=$(cd "$(dirname "$0")/.." && pwd)
echo "${VEXORIN_CACHE:-${XDG_CACHE_HOME:-${HOME:-$root/build}/.cache}/vexorin}"
