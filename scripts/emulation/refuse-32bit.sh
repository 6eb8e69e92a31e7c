#!/usr/bin/env bash
# Runs a command as on a machine whose kernel refuses 32-bit programs, on one that runs them: in a
# private mount namespace, Debian's 32-bit Wine loader is remounted noexec, so every attempt to start
# it fails (as the kernel's refusal does) while its bytes stay readable for the emulated copy. That
# loader is the only 32-bit program this project starts. Needs root.
#   usage: refuse-32bit.sh COMMAND [ARGS...], e.g. refuse-32bit.sh bash scripts/test.sh
set -euo pipefail
. "$(dirname "$0")/../wine.sh"
loader=$wine_native32
exec unshare --mount --propagation private bash -c '
  mount --bind "$0" "$0" && mount -o remount,bind,noexec "$0" || exit 1
  if "$0" --version >/dev/null 2>&1; then echo "refuse-32bit: $0 still runs" >&2; exit 1; fi
  exec "$@"' "$loader" "$@"
