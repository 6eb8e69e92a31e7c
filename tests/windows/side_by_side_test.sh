#!/usr/bin/env bash
# Both DLLs registered in one 64-bit prefix, each by the regsvr32 of its own bitness: a 32-bit and a
# 64-bit client, asking for an in-process server only, each load the DLL of their own bitness into
# their own process, and the 32- and 64-bit cscript run the member script with it. Then one DLL is
# unregistered and the other side must still work, both ways round; and each DLL's registration,
# made to fail at each step beside the other's, leaves the registry as it found it. Ends with the
# 64-bit DLL alone registered, as the tree's other tests expect.
# usage: side_by_side_test.sh <32-bit vexorin.dll> <32-bit inproc_client.exe> <64-bit vexorin.dll> <64-bit inproc_client.exe>
#                             <32-bit registration_faults.exe> <64-bit registration_faults.exe>
set -u
dll32=$(realpath "$1"); client32=$(realpath "$2"); dll64=$(realpath "$3"); client64=$(realpath "$4")
faults32=$(realpath "$5"); faults64=$(realpath "$6")
. "$(dirname "$0")/wine_sides.sh"
if ! can_run_32bit; then
  echo "SKIPPED: this machine runs no 32-bit programs, natively or emulated, so the prefix has no 32-bit side"
  exit 77
fi
echo "-- the 32-bit side runs $(wine_mode): $wine32"
clsid='{E3D03CDB-B405-4350-8B9A-29BEA8873B1C}'
libid='{B9EE6356-AC03-47BB-8897-C6DCA2730F99}'
# Not /s: regsvr32 then says what it did, which is how a start that never ran is told apart.
register32() { (cd "$(dirname "$dll32")" && wine_run "$wine32" 'C:\windows\syswow64\regsvr32.exe' "$@" vexorin.dll >/dev/null); }
register64() { (cd "$(dirname "$dll64")" && wine_run "$wine64" 'C:\windows\system32\regsvr32.exe' "$@" vexorin.dll >/dev/null); }
# default_value KEY [reg options]: the key's default string; reg exits 1 for a missing key, and
# any other failure is reported (it would read as a missing key)
default_value() {
  local out status
  out=$(wine_run "$wine64" reg query "$1" /ve "${@:2}" 2>/dev/null) && status=0 || status=$?
  [ $status -le 1 ] || echo "       reg query $1 exited with status $status" >&2
  printf '%s\n' "$out" | tr -d '\r' | sed -n 's/^ *(Default) *REG_SZ *//p'
}
inproc_server() { default_value "HKCR\\CLSID\\$clsid\\InprocServer32" /reg:$1; }  # view: 32 or 64
library() { default_value "HKCR\\TypeLib\\$libid\\2.0\\0\\$1"; }  # the path registered for win32 or win64
side32() {
  check "32-bit client loads the 32-bit DLL in-process" client "$wine32" "$client32" "$win_dll32"
  check "32-bit cscript runs the member script with the 32-bit DLL in its process" cscript_side "$wine32" syswow64 "$dll32"
}
side64() {
  check "64-bit client loads the 64-bit DLL in-process" client "$wine64" "$client64" "$win_dll64"
  check "64-bit cscript runs the member script with the 64-bit DLL in its process" cscript_side "$wine64" system32 "$dll64"
}

# faults LOADER PROGRAM DLL: registration_faults of that bitness; what did not hold is shown
faults() {
  local out status
  out=$(wine_run "$1" "$2" "$3" 2>&1); status=$?
  printf '%s\n' "$out" | tr -d '\r' | grep -v '^ok ' | sed 's/^/       /'
  echo "       $(printf '%s\n' "$out" | grep -c '^ok ') checks held"
  return $status
}

win_dll32=$(winpath "$dll32"); win_dll64=$(winpath "$dll64")
[ -n "$win_dll32" ] && [ -n "$win_dll64" ] || { echo "FAIL winepath gave no Windows path for the DLLs"; exit 1; }

echo "-- both registered"
check "32-bit regsvr32 registers the 32-bit DLL" register32
check "64-bit regsvr32 registers the 64-bit DLL" register64
check "the 32-bit view names the 32-bit DLL" same "$(inproc_server 32)" "$win_dll32"
check "the 64-bit view names the 64-bit DLL" same "$(inproc_server 64)" "$win_dll64"
check "the type library is registered for win32 from the 32-bit DLL" same "$(library win32)" "$win_dll32"
check "the type library is registered for win64 from the 64-bit DLL" same "$(library win64)" "$win_dll64"
side32
side64

echo "-- registration made to fail at each step, beside the other side"
check "the 64-bit DLL's failed registrations leave every key as it was" faults "$wine64" "$faults64" "$win_dll64"
check "the 32-bit client still loads the 32-bit DLL" client "$wine32" "$client32" "$win_dll32"
check "the 32-bit DLL's failed registrations leave every key as it was" faults "$wine32" "$faults32" "$win_dll32"
check "the 64-bit client still loads the 64-bit DLL" client "$wine64" "$client64" "$win_dll64"

echo "-- 32-bit DLL unregistered"
check "32-bit regsvr32 /u" register32 /u
check "the 32-bit view has no class" test -z "$(inproc_server 32)"
check "the win32 type library is gone" test -z "$(library win32)"
check "the win64 type library stays" same "$(library win64)" "$win_dll64"
check "a 32-bit client finds no class" client "$wine32" "$client32" --absent
side64

echo "-- 32-bit DLL back, 64-bit DLL unregistered"
check "32-bit regsvr32 registers again" register32
check "64-bit regsvr32 /u" register64 /u
check "the 64-bit view has no class" test -z "$(inproc_server 64)"
check "the win64 type library is gone" test -z "$(library win64)"
check "the win32 type library stays" same "$(library win32)" "$win_dll32"
check "a 64-bit client finds no class" client "$wine64" "$client64" --absent
side32

check "64-bit DLL registered again" register64
check "32-bit DLL unregistered again" register32 /u
check "the 64-bit side still works" client "$wine64" "$client64" "$win_dll64"
if [ $failures -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "all checks passed"
