# Shared by the side-by-side, install and site-walk tests (sourced): the two sides of one 64-bit Wine prefix.
wine_sides_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$wine_sides_dir/../../scripts/wine.sh"
wine32=$(wine_loader 32)
wine64=$(wine_loader 64)
failures=0
check() {  # description, command...
  local what=$1; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
# The 32-bit side runs natively or emulated (scripts/wine.sh); without either there is none.
can_run_32bit() { [ "$(wine_mode)" != none ]; }
winpath() { wine_run "$wine64" winepath -w "$1" | tr -d '\r'; }
# same ACTUAL EXPECTED: equal strings; what was read is shown when they differ
same() {
  [ "$1" = "$2" ] && return 0
  echo "       read \"$1\", expected \"$2\""
  return 1
}
# client LOADER CLIENT EXPECTED: the in-process client of that bitness, its findings indented
client() {
  local out status
  out=$(wine_run "$1" "$2" "$3" 2>&1); status=$?
  printf '%s\n' "$out" | tr -d '\r' | sed 's/^/       /'
  return $status
}
# cscript_side LOADER SYSTEM_DIR EXPECTED_DLL: members.vbs passes through that bitness's cscript, and
# the process that loaded cscript.exe from SYSTEM_DIR (system32 or syswow64) loaded EXPECTED_DLL too.
cscript_side() {
  local loader=$1 system=$2 dll=$3 work out last pid
  work=$(mktemp -d)
  (cd "$wine_sides_dir/scripts" &&
     WINEDEBUG=+loaddll,+pid "$loader" "C:\\windows\\$system\\cscript.exe" //nologo members.vbs \
       >"$work/out" 2>"$work/trace")
  out=$(tr -d '\r' <"$work/out")
  last=$(printf '%s\n' "$out" | tail -n 1)
  pid=$(grep -F "trace:loaddll" "$work/trace" | grep -F "\\\\$system\\\\cscript.exe\"" | head -n 1 | cut -d: -f1)
  local expected
  expected=$(winpath "$dll" | sed 's/\\/\\\\/g')
  local loaded
  loaded=$(grep -F "Loaded L\"$expected\"" "$work/trace" | cut -d: -f1 | sort -u | tr '\n' ' ')
  echo "       $system\\cscript.exe in process ${pid:-?}; $(basename "$dll") from $(dirname "$dll") loaded by process(es) ${loaded:-none}"
  rm -rf "$work"
  [ "$last" = "ALL CHECKS PASSED" ] || { printf '%s\n' "$out" | grep -v '^ok ' | sed 's/^/       /'; return 1; }
  [ -n "$pid" ] && [ "$loaded" = "$pid " ]
}
