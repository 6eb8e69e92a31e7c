#!/usr/bin/env bash
# Installs what the native build needs (compiler, CMake, Ninja, libjpeg, GoogleTest, Google Benchmark,
# clang with its libFuzzer runtime; flite and sox for scripts/make-voice.sh, pocketsphinx for the
# audio attacker benchmark, chromium for the browser tests), then the pinned npm packages of tests/js
# (the browser driver and what the tests check against) with the machine's Node.js and npm.
# Idempotent; needs root only when a package is missing.
set -euo pipefail
packages=(g++ cmake ninja-build pkg-config libjpeg-dev libgtest-dev libbenchmark-dev clang libclang-rt-14-dev libgd-dev valgrind
          flite sox pocketsphinx pocketsphinx-en-us chromium)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# Node.js and npm: the machine's own where it has them (the driver needs Node.js 20), else Debian's.
command -v node >/dev/null && command -v npm >/dev/null || missing+=(nodejs npm)
if [ ${#missing[@]} -ne 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "setup-native: missing packages: ${missing[*]}; run as root (or apt-get install them)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get -o DPkg::Lock::Timeout=1200 update -qq
  apt-get -o DPkg::Lock::Timeout=1200 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  echo "setup-native: installed ${missing[*]}"
fi
# The lock file pins every version and hash; installed again only when it changed.
js=$(cd "$(dirname "$0")/../tests/js" && pwd)
if ! cmp -s "$js/package-lock.json" "$js/node_modules/.package-lock.copy" 2>/dev/null; then
  (cd "$js" && npm ci --no-audit --no-fund --loglevel=error >/dev/null) || {
    echo "setup-native: npm ci in tests/js failed" >&2; exit 1; }
  cp "$js/package-lock.json" "$js/node_modules/.package-lock.copy"
  echo "setup-native: installed the pinned npm packages of tests/js"
fi
