#!/usr/bin/env bash
# The release archive holds what a site installs, and the notices owed for what its DLLs link or
# carry: for each, Debian's copyright file of that package, word for word.
# usage: release_test.sh <release zip>
set -uo pipefail
zip=$(realpath "$1")
failures=0
check() {
  local what=$1; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
listing=$(cmake -E tar tf "$zip") || { echo "FAIL cannot list $zip"; exit 1; }
listed() { printf '%s\n' "$listing" | grep -Eq "^vexorin-[0-9.]+/$1\$"; }
for entry in x86/vexorin.dll x64/vexorin.dll install.cmd uninstall.cmd README.md; do
  check "the archive lists $entry" listed "$entry"
done
cmake -E chdir "$work" cmake -E tar xf "$zip" || { echo "FAIL cannot unpack $zip"; exit 1; }
notices=$(ls -d "$work"/vexorin-*)/third-party-notices
# notice FILE PACKAGE: the file is a short header, a blank line, then PACKAGE's copyright file
notice() {
  local copyright=/usr/share/doc/$2/copyright
  [ -f "$copyright" ] || { echo "     $copyright is missing on this machine"; return 1; }
  listed "third-party-notices/$1" &&
    tr -d '\r' <"$notices/$1" | sed '1,/^$/d' | cmp -s - "$copyright"
}
check "libjpeg-turbo's notice, the IJG's within it" notice libjpeg-turbo.txt libjpeg62-turbo
check "  ... which names the Independent JPEG Group" grep -q "Independent JPEG Group" "$notices/libjpeg-turbo.txt"
check "the mingw-w64 runtime's and winpthreads' notice" notice mingw-w64.txt mingw-w64-common
check "  ... which covers winpthreads" grep -q "winpthreads" "$notices/mingw-w64.txt"
check "libgcc's and libstdc++'s notice" notice gcc-runtime.txt gcc-mingw-w64-base
check "  ... with the GCC Runtime Library Exception" grep -q "GCC RUNTIME LIBRARY EXCEPTION" "$notices/gcc-runtime.txt"
check "the GPL the exception refers to" bash -c "tr -d '\r' <'$notices/GPL-3.txt' | cmp -s - /usr/share/common-licenses/GPL-3"
check "flite's notice (the voice of the digits)" notice flite.txt libflite1
check "the JSON reader's notice (compiled into the DLLs)" notice nlohmann-json.txt nlohmann-json3-dev
check "every notice file is one of these" test "$(LC_ALL=C ls "$notices" | tr '\n' ' ')" = "GPL-3.txt flite.txt gcc-runtime.txt libjpeg-turbo.txt mingw-w64.txt nlohmann-json.txt "
if [ $failures -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "all checks passed"
