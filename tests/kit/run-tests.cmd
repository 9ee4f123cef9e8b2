@echo off
rem Runs the uninstaller's test programs on this machine: run-tests.cmd [RESULTS-FOLDER]
rem Start it from an elevated command prompt on a machine without Quorill. Each program runs in a
rem fresh folder under %TEMP%, which is its current folder and its TEMP and TMP; the folder is
rem removed at the end. GoogleTest's XML files and run-tests.log go to the results folder, by
rem default "results" beside this file. Exit code: 0 when every program passed, 1 when one failed,
rem 2 when nothing was run. Plain forms only: Wine's cmd must run this file as Windows' cmd does.
setlocal
set KIT=%~dp0
set RESULTS=%~1
if "%RESULTS%"=="" set RESULTS=%KIT%results

"%KIT%Preflight.exe"
if errorlevel 1 goto refused
if not errorlevel 0 goto refused

if not exist "%RESULTS%\" mkdir "%RESULTS%"
if not exist "%RESULTS%\" goto noresults
del /q "%RESULTS%\*_tests*.xml" >nul 2>&1
set LOG=%RESULTS%\run-tests.log
echo Test kit in %KIT% >"%LOG%"
ver >>"%LOG%"

set TRIES=0
:pick
set /a TRIES+=1
if %TRIES% gtr 20 goto nowork
set WORK=%TEMP%\QuorillTests-%RANDOM%
if exist "%WORK%" goto pick
mkdir "%WORK%"
if not exist "%WORK%\" goto pick
echo Work folder %WORK% >>"%LOG%"

set PASSED=0
set FAILED=0
cd /d "%KIT%"
for %%P in (*_tests.exe) do call :run %%P

cd /d "%KIT%"
set TRIES=0
:clean
rd /s /q "%WORK%" >nul 2>&1
if not exist "%WORK%" goto cleaned
set /a TRIES+=1
if %TRIES% gtr 10 goto leftover
ping -n 2 127.0.0.1 >nul
goto clean
:leftover
echo The work folder %WORK% could not be removed; remove it by hand.
echo The work folder %WORK% could not be removed >>"%LOG%"
:cleaned
echo Results and log: %RESULTS%
echo %PASSED% passed, %FAILED% failed>>"%LOG%"
echo %PASSED% passed, %FAILED% failed
if %FAILED% gtr 0 exit /b 1
if %PASSED% equ 0 exit /b 1
exit /b 0

rem One test program, %1, in a folder of its own; its XML results are copied to the results folder.
:run
mkdir "%WORK%\%~n1"
cd /d "%WORK%\%~n1"
set TEMP=%WORK%\%~n1
set TMP=%WORK%\%~n1
echo.>>"%LOG%"
echo ===== %1>>"%LOG%"
"%KIT%%1" --gtest_output=xml:results\ >>"%LOG%" 2>&1
if errorlevel 1 goto failed
if not errorlevel 0 goto failed
set /a PASSED+=1
echo passed  %1
echo passed  %1>>"%LOG%"
goto ran
:failed
set /a FAILED+=1
echo FAILED  %1
echo FAILED  %1>>"%LOG%"
:ran
copy /y "results\*.xml" "%RESULTS%\" >nul 2>&1
cd /d "%KIT%"
exit /b 0

:refused
echo Nothing was run.
exit /b 2
:noresults
echo Cannot create the results folder %RESULTS%.
exit /b 2
:nowork
echo Cannot create a work folder under %TEMP%.
exit /b 2
