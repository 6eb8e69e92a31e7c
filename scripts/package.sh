#!/usr/bin/env bash
# Makes the release a site installs, build/release/vexorin-<version>.zip: the 32-bit DLL (x86\) and
# the 64-bit DLL (x64\), both stripped; install.cmd and uninstall.cmd; the README with its sample
# pictures; the examples with the widget file they load (altcha.js, from the pinned npm package of
# examples/package.json); the third parties' notices (third-party-notices\). Text files get CRLF
# line ends. Entries are sorted and carry one fixed time and mode, and the stripped DLLs a fixed
# header time, so the same inputs give the same archive, byte for byte, whenever it is made.
#   usage: package.sh [win32 tree] [win64 tree] [output directory]
#            (default: build/win32, build/win64 and build/release)
#          package.sh --path                         prints the archive's path, makes nothing
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# The one place outside CMake that reads the version (CMake's project() is where it is set).
version=$(sed -n 's/^project(vexorin VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || { echo "package: no version in CMakeLists.txt" >&2; exit 1; }
release="$root/build/release"
name="vexorin-$version"
if [ "${1:-}" = --path ]; then
  echo "$release/$name.zip"
  exit 0
fi
win32=${1:-$root/build/win32}
win64=${2:-$root/build/win64}
release=${3:-$release}
mkdir -p "$release"
release=$(cd "$release" && pwd)
for dll in "$win32/com/vexorin.dll" "$win64/com/vexorin.dll"; do
  [ -f "$dll" ] || { echo "package: $dll is missing: build both Windows trees first" >&2; exit 1; }
done

stage="$release/$name"
rm -rf "$stage" "$release/$name.zip"
mkdir -p "$stage/x86" "$stage/x64" "$stage/examples" "$stage/docs"
# strip writes the current time into a PE header unless SOURCE_DATE_EPOCH names one: 0, as the
# linker's own (--no-insert-timestamp).
SOURCE_DATE_EPOCH=0 i686-w64-mingw32-strip -o "$stage/x86/vexorin.dll" "$win32/com/vexorin.dll"
SOURCE_DATE_EPOCH=0 x86_64-w64-mingw32-strip -o "$stage/x64/vexorin.dll" "$win64/com/vexorin.dll"
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
# Each script with the labels both share (common.cmd) after it, so that each stands alone.
for script in install.cmd uninstall.cmd; do
  { cat "$root/scripts/release/$script"; echo; cat "$root/scripts/release/common.cmd"; } >"$stage/$script.tmp"
  crlf "$stage/$script.tmp" "$stage/$script"
  rm "$stage/$script.tmp"
done
crlf "$root/README.md" "$stage/README.md"
for file in "$root"/examples/*; do
  case "$(basename "$file")" in package.json|package-lock.json|node_modules) continue ;; esac
  crlf "$file" "$stage/examples/$(basename "$file")"
done
# The README links into docs/: every page and picture there goes along (the release test follows
# every link, anchors included).
for file in "$root"/docs/*.md; do crlf "$file" "$stage/docs/$(basename "$file")"; done
cp "$root"/docs/*.jpg "$root"/docs/*.png "$stage/docs/"

# The widget as the examples load it: the pinned package's one file, installed again only when the
# lock file changed.
widget="$root/build/release/widget"
if ! cmp -s "$root/examples/package-lock.json" "$widget/package-lock.json" 2>/dev/null ||
   [ ! -f "$widget/node_modules/altcha/dist/main/altcha.min.js" ]; then
  rm -rf "$widget" && mkdir -p "$widget"
  cp "$root/examples/package.json" "$root/examples/package-lock.json" "$widget/"
  (cd "$widget" && npm ci --no-audit --no-fund --loglevel=error >/dev/null) ||
    { echo "package: npm ci of examples/package.json failed" >&2; exit 1; }
fi
cp "$widget/node_modules/altcha/dist/main/altcha.min.js" "$stage/examples/altcha.js"

# What the DLLs link (static libraries), compile in or carry (the voice's digits) owes its notice:
# where it came from Debian, that package's copyright file as it stands, under a header naming it.
notices="$stage/third-party-notices"
mkdir -p "$notices"
notice() {  # file, what, Debian package whose copyright file it is
  local copyright=/usr/share/doc/$3/copyright source
  [ -f "$copyright" ] || { echo "package: $copyright is missing (apt-get install $3)" >&2; exit 1; }
  source=$(dpkg-query -W -f='${source:Package} ${source:Version}' "$3")
  { printf '%s\n' "$2" "From Debian's source package $source: the copyright file of $3." ""
    cat "$copyright"; } >"$notices/$1.tmp"
  crlf "$notices/$1.tmp" "$notices/$1"
  rm "$notices/$1.tmp"
}
# libjpeg-turbo is built from its upstream tarball (the .orig.tar of Debian's source package, without
# Debian's patches): its own licence files, as the build installed them.
jpeg=$(sed -n 's/^VEXORIN_JPEG_PREFIX:[A-Z]*=//p' "$win64/CMakeCache.txt")
jpeg_docs="$jpeg/share/doc/libjpeg-turbo"
for file in LICENSE.md README.ijg; do
  [ -f "$jpeg_docs/$file" ] || { echo "package: $jpeg_docs/$file is missing (scripts/build-libjpeg-mingw.sh installs it)" >&2; exit 1; }
done
{ printf '%s\n' "libjpeg-turbo 2.1.5 (with the Independent JPEG Group's software), linked into both DLLs." \
    "Built from the upstream source tarball that Debian's source package carries (its .orig.tar), without" \
    "Debian's patches. Its licence files follow: LICENSE.md, then README.ijg." "" \
    "==== LICENSE.md" ""
  cat "$jpeg_docs/LICENSE.md"
  printf '\n%s\n\n' "==== README.ijg"
  cat "$jpeg_docs/README.ijg"; } >"$notices/libjpeg-turbo.tmp"
crlf "$notices/libjpeg-turbo.tmp" "$notices/libjpeg-turbo.txt"
rm "$notices/libjpeg-turbo.tmp"
# hiredis is built from the copy in Debian's redis source package (deps/hiredis): its own COPYING.
hiredis=$(sed -n 's/^VEXORIN_HIREDIS_PREFIX:[A-Z]*=//p' "$win64/CMakeCache.txt")
[ -f "$hiredis/share/doc/hiredis/COPYING" ] ||
  { echo "package: $hiredis/share/doc/hiredis/COPYING is missing (scripts/build-hiredis.sh installs it)" >&2; exit 1; }
{ printf '%s\n' "hiredis 1.0.3 (the farm's store client), linked into both DLLs. Built from the copy in Debian's" \
    "source package redis 7.0.15 (deps/hiredis). Its licence, hiredis's COPYING:" ""
  cat "$hiredis/share/doc/hiredis/COPYING"; } >"$notices/hiredis.tmp"
crlf "$notices/hiredis.tmp" "$notices/hiredis.txt"
rm "$notices/hiredis.tmp"
widget_version=$(sed -n 's/^ *"version": "\(.*\)",*$/\1/p' "$widget/node_modules/altcha/package.json" | head -n 1)
{ printf '%s\n' "The ALTCHA widget $widget_version (examples\\altcha.js: the npm package altcha's dist/main/altcha.min.js)," \
    "which the example form loads. Its licence, the package's LICENSE.txt:" ""
  cat "$widget/node_modules/altcha/LICENSE.txt"; } >"$notices/altcha.tmp"
crlf "$notices/altcha.tmp" "$notices/altcha.txt"
rm "$notices/altcha.tmp"
crlf "$root/scripts/release/fdlibm.txt" "$notices/fdlibm.txt"
notice mingw-w64.txt "The mingw-w64 runtime and winpthreads, linked into both DLLs." mingw-w64-common
notice gcc-runtime.txt "libgcc and libstdc++ (under the GCC Runtime Library Exception), linked into both DLLs." gcc-mingw-w64-base
notice nlohmann-json.txt "JSON for Modern C++ (nlohmann/json), compiled into both DLLs (the proof of work's payload reader)." nlohmann-json3-dev
notice flite.txt "flite and its voice cmu_us_slt, which speaks the digits both DLLs carry." libflite1
crlf /usr/share/common-licenses/GPL-3 "$notices/GPL-3.txt"  # what the GCC runtime's exception refers to

# A zip keeps each entry's mode and its time as local time, and zip's extra fields would add the
# times of last access and change: fixed modes, one fixed time read in UTC, no extra fields (-X).
chmod -R u=rwX,go=rX "$stage"
find "$stage" -exec touch -h -d "2000-01-01 00:00:00 UTC" {} +
(cd "$release" && find "$name" -type f | LC_ALL=C sort >"$name.files" &&
   TZ=UTC zip -q -X -D "$name.zip" -@ <"$name.files")
rm -f "$release/$name.files"
echo "$release/$name.zip"
(cd "$stage" && stat -c '  %8s  %n' x86/vexorin.dll x64/vexorin.dll)
