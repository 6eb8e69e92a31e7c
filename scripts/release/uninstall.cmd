@echo off
rem Removes Vexorin's registration: each DLL of this folder with the regsvr32 of its own bitness
rem (on 32-bit Windows the 32-bit DLL alone). Needs an elevated prompt. Running it again is harmless.
setlocal
set "here=%~dp0"
rem Each call is followed by its own errorlevel test: "call :label || ..." ends the script in some cmd versions.
call :windows
if errorlevel 1 exit /b 1
call :elevated
if errorlevel 1 exit /b 1
call :unregister "%regsvr32%" "%here%x86\vexorin.dll" 32-bit
if errorlevel 1 exit /b 1
if defined regsvr64 (
  call :unregister "%regsvr64%" "%here%x64\vexorin.dll" 64-bit
  if errorlevel 1 exit /b 1
)
echo Vexorin is no longer registered.
exit /b 0

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
  echo Vexorin runs on x86 and x64 Windows; this is %arch% Windows. Nothing was changed. 1>&2
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
echo Run this from an elevated prompt ("Run as administrator"). Nothing was changed. 1>&2
exit /b 1

:unregister
if not exist "%~2" (
  echo The %~3 DLL is missing, so its registration cannot be removed: %~2 1>&2
  exit /b 1
)
"%~1" /s /u "%~2"
if errorlevel 1 (
  echo Unregistering the %~3 DLL failed ^(regsvr32 exit code %errorlevel%^): %~2 1>&2
  exit /b 1
)
echo Unregistered the %~3 DLL: %~2
exit /b 0
