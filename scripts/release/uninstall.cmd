@echo off
rem Removes Vexorin's registration: each DLL of this folder with the regsvr32 of its own bitness
rem (on 32-bit Windows the 32-bit DLL alone). Needs an elevated prompt. Running it again is harmless.
setlocal
set "here=%~dp0"
set "nothing=Nothing was changed."
rem :windows and :elevated are common.cmd's, appended to this script in the release.
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
