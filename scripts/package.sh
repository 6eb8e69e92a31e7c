#!/usr/bin/env bash
# Makes the release a site installs, build/release/vexorin-<version>.zip: the 32-bit DLL (x86\) and
# the 64-bit DLL (x64\), both stripped; install.cmd and uninstall.cmd; the README with its sample
# pictures; the examples; the third parties' notices (third-party-notices\). Text files get CRLF line ends. Entries are sorted and carry one fixed
# time, so the same DLLs give the same archive.
#   usage: package.sh [win32 tree] [win64 tree]     (default: build/win32 and build/win64)
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
for dll in "$win32/com/vexorin.dll" "$win64/com/vexorin.dll"; do
  [ -f "$dll" ] || { echo "package: $dll is missing: build both Windows trees first" >&2; exit 1; }
done

stage="$release/$name"
rm -rf "$stage" "$release/$name.zip"
mkdir -p "$stage/x86" "$stage/x64" "$stage/examples" "$stage/docs"
i686-w64-mingw32-strip -o "$stage/x86/vexorin.dll" "$win32/com/vexorin.dll"
x86_64-w64-mingw32-strip -o "$stage/x64/vexorin.dll" "$win64/com/vexorin.dll"
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
# Each script with the labels both share (common.cmd) after it, so that each stands alone.
for script in install.cmd uninstall.cmd; do
  { cat "$root/scripts/release/$script"; echo; cat "$root/scripts/release/common.cmd"; } >"$stage/$script.tmp"
  crlf "$stage/$script.tmp" "$stage/$script"
  rm "$stage/$script.tmp"
done
crlf "$root/README.md" "$stage/README.md"
for file in "$root"/examples/*; do crlf "$file" "$stage/examples/$(basename "$file")"; done
cp "$root"/docs/*.jpg "$stage/docs/"

# What the DLLs link (static libraries) or carry (the voice's digits) owes its notice: Debian's
# copyright file of the package each came from, as it stands, under a header naming the source.
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
notice libjpeg-turbo.txt "libjpeg-turbo (with the Independent JPEG Group's software), linked into both DLLs." libjpeg62-turbo
notice mingw-w64.txt "The mingw-w64 runtime and winpthreads, linked into both DLLs." mingw-w64-common
notice gcc-runtime.txt "libgcc and libstdc++ (under the GCC Runtime Library Exception), linked into both DLLs." gcc-mingw-w64-base
notice nlohmann-json.txt "JSON for Modern C++ (nlohmann/json), compiled into both DLLs (the proof of work's payload reader)." nlohmann-json3-dev
notice flite.txt "flite and its voice cmu_us_slt, which speaks the digits both DLLs carry." libflite1
crlf /usr/share/common-licenses/GPL-3 "$notices/GPL-3.txt"  # what the GCC runtime's exception refers to

(cd "$release" && find "$name" -type f | LC_ALL=C sort >"$name.files" &&
   cmake -E tar cf "$name.zip" --format=zip --mtime="2000-01-01 00:00:00 UTC" --files-from="$name.files")
rm -f "$release/$name.files"
echo "$release/$name.zip"
(cd "$stage" && stat -c '  %8s  %n' x86/vexorin.dll x64/vexorin.dll)
