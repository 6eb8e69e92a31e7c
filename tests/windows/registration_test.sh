#!/usr/bin/env bash
# regsvr32 writes every key and value of the registry scripts (the picture's class, the audio's
# class and the application identifier); regsvr32 /u takes them away again,
# keeping AppID and CLSID themselves; a second /u succeeds. Ends with the DLL registered.
# regsvr32 and reg are $VEXORIN_WINE's, so they see the registry view of the DLL's own bitness.
# usage: registration_test.sh <vexorin.dll> <win32 | win64: the type library's system kind>
set -u
. "$(dirname "$0")/../../scripts/wine.sh"
wine=${VEXORIN_WINE:-wine}
# Every Wine program through the tests' launcher; regsvr32 without /s, so that it says what it did.
w() { wine_run "$wine" "$@"; }
dll=$(realpath "$1")
syskind=$2
clsid='{E3D03CDB-B405-4350-8B9A-29BEA8873B1C}'
audio='{51E986D4-F084-488D-9E34-D359AB95F97F}'
work='{21ED93AF-D09C-49EC-9188-D85041EE66A1}'
appid='{625E6AD9-9949-46FE-839D-D6377C2BB7C6}'
libid='{B9EE6356-AC03-47BB-8897-C6DCA2730F99}'
failures=0
check() {
  local what=$1; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
query() { w reg query "$@" 2>/dev/null | tr -d '\r'; }
# value KEY NAME DATA [/reg:32]: the key holds the REG_SZ value NAME ("" for the default) with exactly DATA
value() {
  local key=$1 name=$2 data=$3 out
  shift 3
  if [ -z "$name" ]; then out=$(query "$key" /ve "$@"); name='(Default)'; else out=$(query "$key" /v "$name" "$@"); fi
  printf '%s\n' "$out" | grep -Fqx "    $name    REG_SZ    $data"
}
exists() { w reg query "$1" >/dev/null 2>&1; }
absent() { ! exists "$1"; }

cd "$(dirname "$dll")"
check "regsvr32 succeeds" w regsvr32 "$(basename "$dll")"
winpath=$(w winepath -w "$dll" | tr -d '\r')
check "versioned ProgID" value 'HKCR\Veltrano.Vexorin.2' "" "Veltrano.Vexorin Class"
check "versioned ProgID's CLSID" value 'HKCR\Veltrano.Vexorin.2\CLSID' "" "$clsid"
check "ProgID" value 'HKCR\Veltrano.Vexorin' "" "Veltrano.Vexorin Class"
check "ProgID's CLSID" value 'HKCR\Veltrano.Vexorin\CLSID' "" "$clsid"
check "CurVer" value 'HKCR\Veltrano.Vexorin\CurVer' "" "Veltrano.Vexorin.2"
check "class key" value "HKCR\\CLSID\\$clsid" "" "Veltrano.Vexorin Class"
check "class AppID value" value "HKCR\\CLSID\\$clsid" "AppID" "$appid"
check "class ProgID" value "HKCR\\CLSID\\$clsid\\ProgID" "" "Veltrano.Vexorin.2"
check "VersionIndependentProgID" value "HKCR\\CLSID\\$clsid\\VersionIndependentProgID" "" "Veltrano.Vexorin"
check "Programmable" exists "HKCR\\CLSID\\$clsid\\Programmable"
check "InprocServer32 is the module path" value "HKCR\\CLSID\\$clsid\\InprocServer32" "" "$winpath"
check "ThreadingModel Apartment" value "HKCR\\CLSID\\$clsid\\InprocServer32" "ThreadingModel" "Apartment"
check "TypeLib" value "HKCR\\CLSID\\$clsid\\TypeLib" "" "$libid"
check "AppID key" value "HKCR\\AppID\\$appid" "" "Vexorin"
check "AppID of the module" value 'HKCR\AppID\vexorin.DLL' "AppID" "$appid"
check "type library registered" value "HKCR\\TypeLib\\$libid\\2.0\\0\\$syskind" "" "$winpath"
check "audio: versioned ProgID" value 'HKCR\Veltrano.VexorinAudio.1' "" "Veltrano.VexorinAudio Class"
check "audio: versioned ProgID's CLSID" value 'HKCR\Veltrano.VexorinAudio.1\CLSID' "" "$audio"
check "audio: ProgID" value 'HKCR\Veltrano.VexorinAudio' "" "Veltrano.VexorinAudio Class"
check "audio: ProgID's CLSID" value 'HKCR\Veltrano.VexorinAudio\CLSID' "" "$audio"
check "audio: CurVer" value 'HKCR\Veltrano.VexorinAudio\CurVer' "" "Veltrano.VexorinAudio.1"
check "audio: class key" value "HKCR\\CLSID\\$audio" "" "Veltrano.VexorinAudio Class"
check "audio: class AppID value" value "HKCR\\CLSID\\$audio" "AppID" "$appid"
check "audio: class ProgID" value "HKCR\\CLSID\\$audio\\ProgID" "" "Veltrano.VexorinAudio.1"
check "audio: VersionIndependentProgID" value "HKCR\\CLSID\\$audio\\VersionIndependentProgID" "" "Veltrano.VexorinAudio"
check "audio: Programmable" exists "HKCR\\CLSID\\$audio\\Programmable"
check "audio: InprocServer32 is the module path" value "HKCR\\CLSID\\$audio\\InprocServer32" "" "$winpath"
check "audio: ThreadingModel Apartment" value "HKCR\\CLSID\\$audio\\InprocServer32" "ThreadingModel" "Apartment"
check "audio: TypeLib" value "HKCR\\CLSID\\$audio\\TypeLib" "" "$libid"
check "work: versioned ProgID's CLSID" value 'HKCR\Veltrano.VexorinWork.1\CLSID' "" "$work"
check "work: ProgID's CLSID" value 'HKCR\Veltrano.VexorinWork\CLSID' "" "$work"
check "work: CurVer" value 'HKCR\Veltrano.VexorinWork\CurVer' "" "Veltrano.VexorinWork.1"
check "work: class ProgID" value "HKCR\\CLSID\\$work\\ProgID" "" "Veltrano.VexorinWork.1"
check "work: InprocServer32 is the module path" value "HKCR\\CLSID\\$work\\InprocServer32" "" "$winpath"
check "work: ThreadingModel Apartment" value "HKCR\\CLSID\\$work\\InprocServer32" "ThreadingModel" "Apartment"
check "work: TypeLib" value "HKCR\\CLSID\\$work\\TypeLib" "" "$libid"

check "regsvr32 /u succeeds" w regsvr32 /u "$(basename "$dll")"
check "AppID stays" exists 'HKCR\AppID'
check "CLSID stays" exists 'HKCR\CLSID'
check "ProgID gone" absent 'HKCR\Veltrano.Vexorin'
check "versioned ProgID gone" absent 'HKCR\Veltrano.Vexorin.2'
check "class key gone" absent "HKCR\\CLSID\\$clsid"
check "AppID key gone" absent "HKCR\\AppID\\$appid"
check "module's AppID key gone" absent 'HKCR\AppID\vexorin.DLL'
check "type library gone" absent "HKCR\\TypeLib\\$libid\\2.0\\0\\$syskind"
check "audio: ProgID gone" absent 'HKCR\Veltrano.VexorinAudio'
check "audio: versioned ProgID gone" absent 'HKCR\Veltrano.VexorinAudio.1'
check "work: ProgIDs gone" absent 'HKCR\Veltrano.VexorinWork'
check "work: class gone" absent "HKCR\\CLSID\\$work"
check "audio: class key gone" absent "HKCR\\CLSID\\$audio"
# Nothing of either class is left anywhere under HKCR (Wine's reg writes its export in UTF-16),
# unless the other bitness's DLL is registered in this prefix and keeps the keys both views share.
if [ "$syskind" = win32 ] || ! w reg query "HKCR\\CLSID\\$clsid" /reg:32 >/dev/null 2>&1; then
  export_file=$(mktemp --suffix=.reg)
  # reg export says nothing when it works, so not through the launcher (the file is the check).
  "$wine" reg export HKCR "$(w winepath -w "$export_file" | tr -d '\r')" /y >/dev/null 2>&1
  check "HKCR exported" test -s "$export_file"
  check "nothing of either class left under HKCR" bash -c \
    "! iconv -f UTF-16LE -t UTF-8 '$export_file' | grep -Fiq -e Veltrano -e '$clsid' -e '$audio'"
  rm -f "$export_file"
fi
other=win32; [ "$syskind" = win32 ] && other=win64
if absent "HKCR\\TypeLib\\$libid\\2.0\\0\\$other"; then
  check "no other registration: the library's key gone" absent "HKCR\\TypeLib\\$libid"
fi
check "a second regsvr32 /u succeeds" w regsvr32 /u "$(basename "$dll")"

# From a directory named outside the ANSI code page (Cyrillic and Greek): the registry holds the
# DLL's real path, and a script's CreateObject loads it. An 8-bit path would read "?" for those
# letters and name nothing (error 429 at every CreateObject while regsvr32 said it succeeded).
in_dir() { (cd "$1" && shift && w "$@"); }  # a Wine program run from DIR
unicode_dir=$(mktemp -d)/"Папка Ελληνικά"
mkdir -p "$unicode_dir"
cp "$dll" "$unicode_dir/"
check "from a Cyrillic and Greek directory: regsvr32 succeeds" \
  in_dir "$unicode_dir" regsvr32 "$(basename "$dll")"
# Read and compared inside the script: the console would print those letters as "?".
cat >"$unicode_dir/../create.vbs" <<VBS
Dim fso : Set fso = CreateObject("Scripting.FileSystemObject")
Dim shell : Set shell = CreateObject("WScript.Shell")
Dim folder, expected
For Each folder In fso.GetFolder(".").SubFolders
  expected = LCase(folder.Path & "\\$(basename "$dll")")
Next
WScript.Echo "class path right: " & (LCase(shell.RegRead("HKCR\\CLSID\\$clsid\\InprocServer32\\")) = expected)
WScript.Echo "library path right: " & (LCase(shell.RegRead("HKCR\\TypeLib\\$libid\\2.0\\0\\$syskind\\")) = expected)
Dim captcha : Set captcha = CreateObject("Veltrano.Vexorin")
captcha.GenerateRnd 6
WScript.Echo "picture of " & captcha.Number & ": VarType " & VarType(captcha.GetImage())
VBS
created=$(cd "$unicode_dir/.." && w cscript //nologo create.vbs 2>&1 | tr -d '\r')
printf '%s\n' "$created" | sed 's/^/       /'
check "  the class's InprocServer32 is its real path" grep -qx "class path right: True" <<<"$created"
check "  the type library's path too" grep -qx "library path right: True" <<<"$created"
check "  CreateObject then works" grep -Eqx "picture of [0-9]{6}: VarType 8209" <<<"$created"
check "  and regsvr32 /u from there succeeds" \
  in_dir "$unicode_dir" regsvr32 /u "$(basename "$dll")"
rm -rf "$(dirname "$unicode_dir")"

check "registered again" w regsvr32 "$(basename "$dll")"

if [ "$syskind" = win64 ]; then
  # A 32-bit registration beside this one (its class key in the 32-bit view, its type-library
  # subkey): unregistering this DLL must leave it and the keys both share.
  other='C:\x86\vexorin.dll'
  w reg add "HKCR\\CLSID\\$clsid\\InprocServer32" /ve /d "$other" /reg:32 /f >/dev/null 2>&1
  w reg add "HKCR\\CLSID\\$audio\\InprocServer32" /ve /d "$other" /reg:32 /f >/dev/null 2>&1
  w reg add "HKCR\\TypeLib\\$libid\\2.0\\0\\win32" /ve /d "$other" /f >/dev/null 2>&1
  check "with a 32-bit registration beside it: regsvr32 /u succeeds" w regsvr32 /u "$(basename "$dll")"
  check "its own class key gone" absent "HKCR\\CLSID\\$clsid"
  check "its own type-library subkey gone" absent "HKCR\\TypeLib\\$libid\\2.0\\0\\win64"
  check "the 32-bit class key stays" value "HKCR\\CLSID\\$clsid\\InprocServer32" "" "$other" /reg:32
  check "the 32-bit type-library subkey stays" value "HKCR\\TypeLib\\$libid\\2.0\\0\\win32" "" "$other"
  check "the ProgIDs stay" value 'HKCR\Veltrano.Vexorin\CLSID' "" "$clsid"
  check "the versioned ProgID stays" value 'HKCR\Veltrano.Vexorin.2\CLSID' "" "$clsid"
  check "the module's AppID stays" value 'HKCR\AppID\vexorin.DLL' "AppID" "$appid"
  check "its own audio class key gone" absent "HKCR\\CLSID\\$audio"
  check "the 32-bit audio class key stays" value "HKCR\\CLSID\\$audio\\InprocServer32" "" "$other" /reg:32
  check "the audio ProgIDs stay" value 'HKCR\Veltrano.VexorinAudio\CLSID' "" "$audio"
  check "a second regsvr32 /u beside it succeeds" w regsvr32 /u "$(basename "$dll")"
  # The 32-bit side leaves as the last one out would: its class key and the whole library.
  w reg delete "HKCR\\CLSID\\$clsid" /reg:32 /f >/dev/null 2>&1
  w reg delete "HKCR\\CLSID\\$audio" /reg:32 /f >/dev/null 2>&1
  w reg delete "HKCR\\TypeLib\\$libid" /f >/dev/null 2>&1
  check "registered once more" w regsvr32 "$(basename "$dll")"
fi
if [ $failures -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "all checks passed"
