#!/usr/bin/env bash
# Installs Debian packages for a set-up script: `apt-install.sh WHO PACKAGE...` (a package may carry
# `=version`). Waits for another apt-get's lock instead of failing beside it; says what is missing
# when it cannot install (not root).
set -euo pipefail
who=$1; shift
[ $# -eq 0 ] && exit 0
if [ "$(id -u)" != 0 ]; then
  echo "$who: missing packages: $*; run as root (or apt-get install them)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get -o DPkg::Lock::Timeout=1200 update -qq
apt-get -o DPkg::Lock::Timeout=1200 install -y -qq --no-install-recommends "$@" >/dev/null
echo "$who: installed $*"
