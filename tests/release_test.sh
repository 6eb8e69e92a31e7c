#!/usr/bin/env bash
# The release archive holds what a site installs, everything its example pages load (the widget
# file), the notices owed for what its DLLs link, compile in or carry (Debian's copyright file word
# for word where the code came from a Debian package; libjpeg-turbo's, the widget's and fdlibm's
# own texts otherwise), and a README whose links lead to files the archive holds.
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
for entry in x86/vexorin.dll x64/vexorin.dll install.cmd uninstall.cmd README.md examples/form.asp examples/altcha.js \
             examples/global.asa docs/farm.md; do
  check "the archive lists $entry" listed "$entry"
done
cmake -E chdir "$work" cmake -E tar xf "$zip" || { echo "FAIL cannot unpack $zip"; exit 1; }
top=$(ls -d "$work"/vexorin-*)
notices=$top/third-party-notices
# notice FILE PACKAGE: the file is a short header, a blank line, then PACKAGE's copyright file
notice() {
  local copyright=/usr/share/doc/$2/copyright
  [ -f "$copyright" ] || { echo "     $copyright is missing on this machine"; return 1; }
  listed "third-party-notices/$1" &&
    tr -d '\r' <"$notices/$1" | sed '1,/^$/d' | cmp -s - "$copyright"
}
# The widget the examples load is the pinned package's file, byte for byte (the lock file's hash
# pins the package; this pins the file within it), and the form loads it by that name.
widget_dir=$(dirname "$zip")/widget/node_modules/altcha
check "examples\\altcha.js is the pinned widget's altcha.min.js" cmp -s "$top/examples/altcha.js" "$widget_dir/dist/main/altcha.min.js"
check "  ... which form.asp loads" grep -q 'src="altcha.js"' "$top/examples/form.asp"
check "  ... and its MIT licence is shipped" bash -c "tr -d '\r' <'$notices/altcha.txt' | sed '1,/^\$/d' | cmp -s - '$widget_dir/LICENSE.txt'"
check "libjpeg-turbo's notice: its own BSD licence and the IJG's README" \
  bash -c "grep -q 'Modified (3-clause) BSD License' '$notices/libjpeg-turbo.txt' && grep -q 'Independent JPEG Group' '$notices/libjpeg-turbo.txt'"
check "  ... saying it was built without Debian's patches, not as Debian's package" \
  bash -c "grep -q \"without\" '$notices/libjpeg-turbo.txt' && ! grep -q 'copyright file of libjpeg62-turbo' '$notices/libjpeg-turbo.txt'"
check "fdlibm's notice (the sines and cosines)" grep -q "Copyright (C) 1993 by Sun Microsystems" "$notices/fdlibm.txt"
check "the mingw-w64 runtime's and winpthreads' notice" notice mingw-w64.txt mingw-w64-common
check "  ... which covers winpthreads" grep -q "winpthreads" "$notices/mingw-w64.txt"
check "libgcc's and libstdc++'s notice" notice gcc-runtime.txt gcc-mingw-w64-base
check "  ... with the GCC Runtime Library Exception" grep -q "GCC RUNTIME LIBRARY EXCEPTION" "$notices/gcc-runtime.txt"
check "the GPL the exception refers to" bash -c "tr -d '\r' <'$notices/GPL-3.txt' | cmp -s - /usr/share/common-licenses/GPL-3"
check "flite's notice (the voice of the digits)" notice flite.txt libflite1
check "the JSON reader's notice (compiled into the DLLs)" notice nlohmann-json.txt nlohmann-json3-dev
check "hiredis's notice (the farm's store client): its BSD licence" \
  bash -c "grep -q 'hiredis 1.0.3' '$notices/hiredis.txt' && grep -q 'Pieter Noordhuis' '$notices/hiredis.txt'"
check "every notice file is one of these" test "$(LC_ALL=C ls "$notices" | tr '\n' ' ')" = "GPL-3.txt altcha.txt fdlibm.txt flite.txt gcc-runtime.txt hiredis.txt libjpeg-turbo.txt mingw-w64.txt nlohmann-json.txt "
# Every relative link of the README ([text](target), anchors aside) names a file the archive holds.
dead=""
while IFS= read -r target; do
  [ -e "$top/$target" ] || dead="$dead $target"
done < <(tr -d '\r' <"$top/README.md" | grep -o '](\([^)#:]*\))' | sed 's/^](//; s/)$//' | sort -u)
check "the README's links lead to files in the archive${dead:+ (dead:$dead)}" test -z "$dead"
if [ $failures -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "all checks passed"
