@echo off
rem Installs Korvix from this release folder on Windows (run as administrator):
rem copies Korvix.dll, TorvelAccess.dll and korvix.exe to %ProgramFiles%\Korvix
rem (the 32-bit build goes to %ProgramFiles(x86)%\Korvix on 64-bit Windows),
rem installs the dependency table in its deptables folder, registers both COM
rem servers with regsvr32 and sets HKLM\SOFTWARE\Quarnex\Common
rem "DependencyTables" to that folder. Running it again installs over the
rem previous copy.
rem Usage: install.cmd [target folder]
setlocal EnableExtensions
set "KORVIX_ARCH=x64"
set "SOURCE=%~dp0"
call :layout "%~1"

echo Installing Korvix (%KORVIX_ARCH%) into "%TARGET%"
if not exist "%TARGET%\deptables" mkdir "%TARGET%\deptables"
if not exist "%TARGET%\deptables" goto :no_folder
rem Each step is checked with "if errorlevel": some command interpreters
rem report a failure to "||" after a redirected copy that succeeded.
copy /y "%SOURCE%Korvix.dll" "%TARGET%\Korvix.dll" >nul
if errorlevel 1 goto :copy_failed
copy /y "%SOURCE%TorvelAccess.dll" "%TARGET%\TorvelAccess.dll" >nul
if errorlevel 1 goto :copy_failed
copy /y "%SOURCE%korvix.exe" "%TARGET%\korvix.exe" >nul
if errorlevel 1 goto :copy_failed
copy /y "%SOURCE%deptables\Korvix_1.05.xml" "%TARGET%\deptables\Korvix_1.05.xml" >nul
if errorlevel 1 goto :copy_failed
if not exist "%SOURCE%samples" goto :register
if not exist "%TARGET%\samples" mkdir "%TARGET%\samples"
copy /y "%SOURCE%samples\*" "%TARGET%\samples\" >nul
if errorlevel 1 goto :copy_failed

:register
"%REGSVR%" /s "%TARGET%\TorvelAccess.dll"
if errorlevel 1 goto :register_failed
"%REGSVR%" /s "%TARGET%\Korvix.dll"
if errorlevel 1 goto :register_failed
reg add "HKLM\SOFTWARE\Quarnex\Common" /v DependencyTables /t REG_SZ /d "%TARGET%\deptables" /f %REGVIEW% >nul
if errorlevel 1 goto :reg_failed

echo Korvix is installed. Try: "%TARGET%\korvix.exe" dump
exit /b 0

:layout
rem Target folder, regsvr32 and registry view for this build on this Windows.
set "TARGET=%~1"
set "REGSVR=%SystemRoot%\System32\regsvr32.exe"
set "REGVIEW=/reg:64"
if /i "%KORVIX_ARCH%"=="x86" goto :layout_x86
rem A 32-bit command prompt sees the 64-bit system folder as Sysnative.
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

:no_folder
echo install: cannot create "%TARGET%" (run as administrator?) 1>&2
exit /b 1
:copy_failed
echo install: copying into "%TARGET%" failed (run as administrator?) 1>&2
exit /b 1
:register_failed
echo install: regsvr32 failed (run as administrator?) 1>&2
exit /b 1
:reg_failed
echo install: writing HKLM\SOFTWARE\Quarnex\Common DependencyTables failed (run as administrator?) 1>&2
exit /b 1
