#!/usr/bin/env bash
# The one place that installs Debian packages for a set-up script: those of the list this machine
# lacks (a package may carry `=version`: then that version), after adding Debian's source archive
# to the apt sources when --deb-src asks for it (apt-get source needs deb-src lines). Does nothing
# when nothing is missing; else needs root, and says what is missing when it is not. Waits for
# another apt-get's lock instead of failing beside it.
#   usage: apt-install.sh [--deb-src] WHO PACKAGE...
set -euo pipefail
deb_src=0
[ "${1:-}" = --deb-src ] && { deb_src=1; shift; }
who=$1; shift
missing=()
for p in "$@"; do
  case "$p" in
    *=*) [ "$(dpkg-query -W -f='${Version}' "${p%%=*}" 2>/dev/null)" = "${p#*=}" ] || missing+=("$p") ;;
    *) dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p") ;;
  esac
done
sources=/etc/apt/sources.list.d/debian.sources
add_src=0
if [ $deb_src = 1 ]; then
  add_src=1
  grep -Eq '^Types:.*deb-src' "$sources" 2>/dev/null && add_src=0
  [ -f /etc/apt/sources.list ] && grep -Eq '^deb-src ' /etc/apt/sources.list && add_src=0
fi
[ ${#missing[@]} -eq 0 ] && [ $add_src = 0 ] && exit 0
if [ "$(id -u)" != 0 ]; then
  echo "$who: missing: ${missing[*]:-}$([ $add_src = 0 ] || echo ' deb-src sources'); run as root (or apt-get install them)" >&2
  exit 1
fi
if [ $add_src = 1 ]; then
  if [ -f "$sources" ]; then
    sed -i -E 's/^Types: deb$/Types: deb deb-src/' "$sources"
  else
    sed -n -E 's/^deb (.*)$/deb-src \1/p' /etc/apt/sources.list >>/etc/apt/sources.list
  fi
fi
export DEBIAN_FRONTEND=noninteractive
apt-get -o DPkg::Lock::Timeout=1200 update -qq
[ ${#missing[@]} -eq 0 ] ||
  apt-get -o DPkg::Lock::Timeout=1200 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "$who: installed ${missing[*]:-nothing new}$([ $add_src = 0 ] || echo '; added deb-src sources')"
