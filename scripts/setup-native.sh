#!/usr/bin/env bash
# Installs what the native build needs. With --tool only what the command-line tool needs (compiler,
# CMake, Ninja, libjpeg, OpenSSL's libcrypto and the nlohmann JSON headers, which the tool's proof of
# work uses); else everything the tests and benchmarks use besides: GoogleTest, Google Benchmark,
# clang with its libFuzzer runtime; flite and sox for scripts/make-voice.sh, pocketsphinx for the
# audio attacker benchmark, chromium for the browser tests, redis-server for the farm's store tests
# (each test tree starts its own on a free port and stops it), then the pinned npm packages of tests/site
# (the browser driver and what the tests check against) with the machine's Node.js and npm.
# Idempotent; needs root only when a package is missing.
#   usage: setup-native.sh [--tool]
set -euo pipefail
tool_only=0
[ "${1:-}" = --tool ] && tool_only=1
packages=(g++ cmake ninja-build libjpeg-dev libssl-dev nlohmann-json3-dev)
if [ $tool_only = 0 ]; then
  packages+=(pkg-config libgtest-dev libbenchmark-dev clang libclang-rt-14-dev libgd-dev valgrind
             flite sox pocketsphinx pocketsphinx-en-us chromium redis-server)
fi
# Node.js and npm: the machine's own where it has them (the driver needs Node.js 20), else Debian's.
if [ $tool_only = 0 ]; then
  command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm)
fi
bash "$(dirname "$0")/apt-install.sh" setup-native "${packages[@]}"
[ $tool_only = 1 ] && exit 0
# The lock file pins every version and hash; installed again only when it changed.
js=$(cd "$(dirname "$0")/../tests/site" && pwd)
if ! cmp -s "$js/package-lock.json" "$js/node_modules/.package-lock.copy" 2>/dev/null; then
  (cd "$js" && npm ci --no-audit --no-fund --loglevel=error >/dev/null) || {
    echo "setup-native: npm ci in tests/site failed" >&2; exit 1; }
  cp "$js/package-lock.json" "$js/node_modules/.package-lock.copy"
  echo "setup-native: installed the pinned npm packages of tests/site"
fi
