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
             examples/global.asa examples/captcha.inc examples/save-picture.vbs docs/farm.md; do
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
# Every relative link of every page the archive carries leads to a file in it, and a link's anchor
# to a heading of that page (named as the pages' host names them: lower case, punctuation dropped,
# spaces as hyphens, a repeated heading numbered). The README's links are all followed, so each page
# it links to is checked in turn.
links=$(node - "$top" <<'JS'
const fs = require('fs'), path = require('path');
const top = process.argv[2];
const anchors = (file) => {
  const seen = new Map(), out = new Set();
  let fenced = false;
  for (const line of fs.readFileSync(file, 'utf8').split(/\r?\n/)) {
    if (/^```/.test(line)) fenced = !fenced;
    const heading = !fenced && /^#{1,6}\s+(.*?)\s*#*\s*$/.exec(line);
    if (!heading) continue;
    const text = heading[1].replace(/!?\[([^\]]*)\]\([^)]*\)/g, '$1').replace(/<[^>]+>/g, '');
    const slug = text.toLowerCase().replace(/[^\p{L}\p{N}\s_-]/gu, '').replace(/\s/g, '-');
    const n = seen.get(slug) || 0;
    seen.set(slug, n + 1);
    out.add(n ? `${slug}-${n}` : slug);
  }
  return out;
};
const pages = ['README.md'], done = new Set(), dead = [];
let followed = 0;
while (pages.length) {
  const page = pages.shift();
  if (done.has(page)) continue;
  done.add(page);
  const text = fs.readFileSync(path.join(top, page), 'utf8').replace(/```[\s\S]*?```/g, '');
  for (const [, target] of text.matchAll(/\]\(<?([^)\s>]+)>?\)/g)) {
    if (/^[a-z]+:/i.test(target)) continue;
    followed += 1;
    const [file, anchor] = target.split('#');
    const resolved = file ? path.normalize(path.join(path.dirname(page), decodeURIComponent(file))) : page;
    const full = path.join(top, resolved);
    if (resolved.startsWith('..') || !fs.existsSync(full)) { dead.push(`${page}: ${target}`); continue; }
    if (resolved.endsWith('.md')) {
      if (anchor !== undefined && !anchors(full).has(anchor)) dead.push(`${page}: ${target}`);
      pages.push(resolved);
    }
  }
}
console.log(`${followed} links in ${[...done].join(' ')}`);
for (const d of dead) console.log(`dead: ${d}`);
JS
) || links=$'no links followed\ndead: the link checker (node) failed'
echo "     $(printf '%s\n' "$links" | head -n 1)"
dead=$(printf '%s\n' "$links" | sed -n 's/^dead: //p')
[ -n "$dead" ] && printf '%s\n' "$dead" | sed 's/^/     dead: /'
check "the README names the folder the archive unpacks into ($(basename "$top")\\)" grep -qF "\`$(basename "$top")\\\`" "$top/README.md"
check "every link of the README and the pages it leads to, anchors included, leads into the archive" test -z "$dead"
check "  ... which reaches more than the README" bash -c "printf '%s\n' \"\$1\" | head -n 1 | grep -q 'docs/'" _ "$links"
if [ $failures -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "all checks passed"
