@echo off
rem Registers Vexorin from this folder: on 64-bit Windows the 64-bit DLL (x64\) with the 64-bit
rem regsvr32 and the 32-bit DLL (x86\) with the 32-bit one, on 32-bit Windows the 32-bit DLL alone.
rem Registration records where the DLLs are: put this folder in its final place first. Needs an
rem elevated prompt. Running it again registers again.
setlocal
set "here=%~dp0"
set "nothing=Nothing was registered."
rem :windows and :elevated are common.cmd's, appended to this script in the release.
rem Each call is followed by its own errorlevel test: "call :label || ..." ends the script in some cmd versions.
call :windows
if errorlevel 1 exit /b 1
call :elevated
if errorlevel 1 exit /b 1
if defined regsvr64 (
  call :register "%regsvr64%" "%here%x64\vexorin.dll" 64-bit
  if errorlevel 1 exit /b 1
)
call :register "%regsvr32%" "%here%x86\vexorin.dll" 32-bit
if errorlevel 1 exit /b 1
echo Vexorin is registered.
exit /b 0

:register
if not exist "%~2" (
  echo The %~3 DLL is missing: %~2 1>&2
  exit /b 1
)
"%~1" /s "%~2"
if errorlevel 1 (
  echo Registering the %~3 DLL failed ^(regsvr32 exit code %errorlevel%^): %~2 1>&2
  exit /b 1
)
echo Registered the %~3 DLL: %~2
exit /b 0
