#!/usr/bin/env bash
# The release as a site installs it, in one 64-bit prefix: install.cmd from a 32-bit and from a
# 64-bit prompt registers both DLLs where they were unpacked (clients of both bitnesses load them
# in-process), runs twice, stops with a message and a failing exit code when a step fails;
# uninstall.cmd removes both, twice. Ends with the tree's own DLL registered again.
# usage: install_test.sh <release zip> <32-bit inproc_client.exe> <64-bit inproc_client.exe> <this tree's vexorin.dll>
set -u
zip=$(realpath "$1"); client32=$(realpath "$2"); client64=$(realpath "$3"); tree_dll=$(realpath "$4")
. "$(dirname "$0")/../windows/wine_sides.sh"
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
cmake -E chdir "$work" cmake -E tar xf "$zip" || { echo "FAIL cannot unpack $zip"; exit 1; }
package=$(ls -d "$work"/vexorin-*)
# cmd_in LOADER DIR SCRIPT: runs DIR\SCRIPT through that loader's cmd from DIR (through the launcher, which
# makes a start that never ran once more), its output kept in $work/out; show prints that output.
cmd_in() { (cd "$2" && wine_run "$1" cmd /c "$3" >"$work/out" 2>&1); }
show() { tr -d '\r' <"$work/out" | sed 's/^/       /'; }
said() { tr -d '\r' <"$work/out" | grep -q "$1"; }
restore() { (cd "$(dirname "$tree_dll")" && "$wine64" regsvr32 /s vexorin.dll); }

echo "-- a step that fails"
cp -r "$package" "$work/broken"
echo "not a DLL" >"$work/broken/x64/vexorin.dll"
"$wine64" regsvr32 /s /u "$(winpath "$tree_dll")" 2>/dev/null
check "install.cmd fails when regsvr32 fails" test "$(cmd_in "$wine64" "$work/broken" install.cmd; echo $?)" != 0
check "it says which DLL" said 'Registering the 64-bit DLL failed.*x64\\vexorin.dll'
check "it never reports success" bash -c "! tr -d '\r' <'$work/out' | grep -q 'is registered'"
check "the 64-bit side has no class" client "$wine64" "$client64" --absent
rm -rf "$work/broken"

if ! can_run_32bit; then
  restore
  if [ $failures -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
  echo "SKIPPED the rest: this machine runs no 32-bit programs, natively or emulated, and install.cmd registers the 32-bit DLL too"
  exit 77
fi

dll32=$(winpath "$package/x86/vexorin.dll"); dll64=$(winpath "$package/x64/vexorin.dll")
echo "-- the 32-bit side runs $(wine_mode): $wine32"
echo "-- install.cmd from a 32-bit prompt"
check "it succeeds" cmd_in "$wine32" "$package" install.cmd
show
check "32-bit client loads the unpacked 32-bit DLL" client "$wine32" "$client32" "$dll32"
check "64-bit client loads the unpacked 64-bit DLL" client "$wine64" "$client64" "$dll64"
echo "-- install.cmd again, from a 64-bit prompt"
check "it succeeds" cmd_in "$wine64" "$package" install.cmd
show
check "32-bit client still loads its DLL" client "$wine32" "$client32" "$dll32"
check "64-bit client still loads its DLL" client "$wine64" "$client64" "$dll64"
echo "-- uninstall.cmd, twice"
check "it succeeds" cmd_in "$wine64" "$package" uninstall.cmd
show
check "a 32-bit client finds no class" client "$wine32" "$client32" --absent
check "a 64-bit client finds no class" client "$wine64" "$client64" --absent
check "a second run succeeds (from a 32-bit prompt)" cmd_in "$wine32" "$package" uninstall.cmd
show

check "the tree's DLL registered again" restore
if [ $failures -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "all checks passed"
