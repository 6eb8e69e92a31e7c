#!/usr/bin/env bash
# The release's example site walked in chromium (site_walk.mjs) as a site runs it: the archive
# unpacked, its DLL of one bitness registered from there, its pages served by the test host and run
# by that bitness's cscript. Ends with the tree's own DLL registered again and the archive's gone.
# The walk's pictures of the form (form-desktop.png, form-phone.png) go to the screenshots directory.
# usage: site_walk_test.sh <release zip> <64 | 32> <this tree's vexorin.dll> <screenshots directory>
#        (Wine's environment set)
# Exit status 77: this machine runs no 32-bit programs.
set -u
zip=$(realpath "$1"); bits=$2; tree_dll=$(realpath "$3"); shots=$4
here=$(dirname "$(realpath "$0")")
. "$here/../windows/wine_sides.sh"
if ! command -v chromium >/dev/null || [ ! -d "$here/node_modules/playwright-core" ]; then
  echo "chromium or the browser driver is missing (scripts/setup-native.sh installs both)"; exit 1
fi
if [ "$bits" = 32 ] && ! can_run_32bit; then
  echo "SKIPPED: this machine runs no 32-bit programs, natively or emulated"; exit 77
fi
case "$bits" in
  64) loader=$wine64 dll=x64/vexorin.dll cscript='C:\windows\system32\cscript.exe' ;;
  32) loader=$wine32 dll=x86/vexorin.dll cscript='C:\windows\syswow64\cscript.exe' ;;
  *) echo "usage: site_walk_test.sh <release zip> <64 | 32> <vexorin.dll> <screenshots directory>"; exit 2 ;;
esac
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
cmake -E chdir "$work" cmake -E tar xf "$zip" || { echo "FAIL cannot unpack $zip"; exit 1; }
package=$(ls -d "$work"/vexorin-*)
echo "-- the $bits-bit DLL of the archive, registered from $(winpath "$package/$dll") (32-bit programs: $(wine_mode))"
check "regsvr32 of that bitness registers it" \
  bash -c 'cd "$1" && "$2" regsvr32 /s vexorin.dll' _ "$(dirname "$package/$dll")" "$loader"
node "$here/site_walk.mjs" "$package/examples" "$loader" "$cscript" --timeout 2400 --screenshots "$shots"
walked=$?
check "the walk" test $walked = 0
(cd "$(dirname "$package/$dll")" && "$loader" regsvr32 /s /u vexorin.dll)
check "the tree's DLL registered again" bash -c 'cd "$1" && "$2" regsvr32 /s vexorin.dll' _ "$(dirname "$tree_dll")" "$wine64"
if [ $failures -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "all checks passed"
