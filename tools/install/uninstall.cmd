@echo off
rem Removes what install.cmd installed (run as administrator): unregisters
rem both COM servers, removes the "DependencyTables" value when it still points
rem at the installed folder, and deletes the folder.
rem Usage: uninstall.cmd [target folder]
setlocal EnableExtensions
set "KORVIX_ARCH=x64"
call :layout "%~1"

echo Removing Korvix (%KORVIX_ARCH%) from "%TARGET%"
if exist "%TARGET%\Korvix.dll" "%REGSVR%" /u /s "%TARGET%\Korvix.dll"
if exist "%TARGET%\TorvelAccess.dll" "%REGSVR%" /u /s "%TARGET%\TorvelAccess.dll"

set "CURRENT="
for /f "tokens=2,*" %%a in ('reg query "HKLM\SOFTWARE\Quarnex\Common" /v DependencyTables %REGVIEW% 2^>nul') do set "CURRENT=%%b"
if /i "%CURRENT%"=="%TARGET%\deptables" reg delete "HKLM\SOFTWARE\Quarnex\Common" /v DependencyTables /f %REGVIEW% >nul

if exist "%TARGET%" rmdir /s /q "%TARGET%"
if exist "%TARGET%" (
    echo uninstall: "%TARGET%" could not be removed completely 1>&2
    exit /b 1
)
echo Korvix is removed.
exit /b 0

:layout
set "TARGET=%~1"
set "REGSVR=%SystemRoot%\System32\regsvr32.exe"
set "REGVIEW=/reg:64"
if /i "%KORVIX_ARCH%"=="x86" goto :layout_x86
if exist "%SystemRoot%\Sysnative\regsvr32.exe" set "REGSVR=%SystemRoot%\Sysnative\regsvr32.exe"
if "%TARGET%"=="" if defined ProgramW6432 set "TARGET=%ProgramW6432%\Korvix"
if "%TARGET%"=="" set "TARGET=%ProgramFiles%\Korvix"
goto :eof
:layout_x86
set "REGVIEW=/reg:32"
if not exist "%SystemRoot%\SysWOW64\regsvr32.exe" goto :layout_x86_only
set "REGSVR=%SystemRoot%\SysWOW64\regsvr32.exe"
if "%TARGET%"=="" set "TARGET=%ProgramFiles(x86)%\Korvix"
goto :eof
:layout_x86_only
if "%TARGET%"=="" set "TARGET=%ProgramFiles%\Korvix"
goto :eof
