rem From here on: the labels install.cmd and uninstall.cmd share, written once in the sources
rem (scripts/release/common.cmd) and appended to both. "nothing" says what a refusal left undone.

rem Which regsvr32 serves which DLL. A 32-bit prompt on 64-bit Windows sees PROCESSOR_ARCHITEW6432,
rem and its System32 is the 32-bit one: Sysnative reaches the 64-bit regsvr32 from there.
:windows
set "arch=%PROCESSOR_ARCHITECTURE%"
if defined PROCESSOR_ARCHITEW6432 set "arch=%PROCESSOR_ARCHITEW6432%"
set "regsvr64="
if /i "%arch%"=="x86" (
  set "regsvr32=%SystemRoot%\System32\regsvr32.exe"
  exit /b 0
)
if /i not "%arch%"=="AMD64" (
  echo Vexorin runs on x86 and x64 Windows; this is %arch% Windows. %nothing% 1>&2
  exit /b 1
)
set "regsvr32=%SystemRoot%\SysWOW64\regsvr32.exe"
set "regsvr64=%SystemRoot%\System32\regsvr32.exe"
if defined PROCESSOR_ARCHITEW6432 set "regsvr64=%SystemRoot%\Sysnative\regsvr32.exe"
exit /b 0

rem Either query needs an administrator's token; the first also needs the Server service.
:elevated
"%SystemRoot%\System32\net.exe" session >nul 2>&1 && exit /b 0
"%SystemRoot%\System32\fsutil.exe" dirty query %SystemDrive% >nul 2>&1 && exit /b 0
echo Run this from an elevated prompt ("Run as administrator"). %nothing% 1>&2
exit /b 1

