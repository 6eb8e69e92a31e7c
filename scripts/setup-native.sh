#!/usr/bin/env bash
# Installs what the native build needs. With --tool only what the command-line tool needs (compiler,
# CMake, Ninja, libjpeg); else everything the tests and benchmarks use besides: GoogleTest, Google
# Benchmark, clang with its libFuzzer runtime; flite and sox for scripts/make-voice.sh, pocketsphinx
# for the audio attacker benchmark, chromium for the browser test of the audio.
# Idempotent; needs root only when something is missing.
#   usage: setup-native.sh [--tool]
set -euo pipefail
packages=(g++ cmake ninja-build libjpeg-dev)
if [ "${1:-}" != --tool ]; then
  packages+=(pkg-config libgtest-dev libbenchmark-dev clang libclang-rt-14-dev libgd-dev valgrind
             flite sox pocketsphinx pocketsphinx-en-us chromium)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" != 0 ]; then
  echo "setup-native: missing packages: ${missing[*]}; run as root (or apt-get install them)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup-native: installed ${missing[*]}"
