@echo off
rem Runs the menu program's end-to-end tests on this Windows machine: the
rem i686 run, and the x86_64 run where Windows is 64-bit. See README.TXT.
rem   run-tests.cmd [/unattended]
rem Writes results-RUN.xml (JUnit) beside itself and ends with one summary
rem line: PASSED, FAILED, or NOT RUN and why. Exit code 0 when every test of
rem every run this Windows can make passed and nothing was left behind, 1 when
rem something failed, 2 when nothing was run. /unattended never waits for a
rem key (for a job or a script). Optional: AUTORUN_KIT_RUNS (default
rem "i686 x86_64"), AUTORUN_KIT_FILTER (GoogleTest name patterns, default "*").
setlocal
set "PROMPT_AT_END=1"
if /i "%~1"=="/unattended" set "PROMPT_AT_END="
if not "%~1"=="" if defined PROMPT_AT_END goto usage
if not "%~2"=="" goto usage
set "KIT=%~dp0"
set "KIT=%KIT:~0,-1%"
cd /d "%KIT%"
if not defined AUTORUN_KIT_RUNS set "AUTORUN_KIT_RUNS=i686 x86_64"
if not defined AUTORUN_KIT_FILTER set "AUTORUN_KIT_FILTER=*"
set "AUTORUN_BMP_TESTDATA=%KIT%\bmp"
set "WIN64="
set "ARM64="
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "WIN64=1"
if /i "%PROCESSOR_ARCHITEW6432%"=="AMD64" set "WIN64=1"
if /i "%PROCESSOR_ARCHITECTURE%"=="ARM64" set "ARM64=1"
if /i "%PROCESSOR_ARCHITEW6432%"=="ARM64" set "ARM64=1"
set RUNS=
rem The checker of this Windows's own bitness, which always starts (on ARM64
rem the i686 one: Windows 10 on ARM emulates x86 programs, not x64 ones).
set "CHECK=%KIT%\i686\kit_check.exe"
if defined WIN64 set "CHECK=%KIT%\x86_64\kit_check.exe"
rem The tests the i686 run leaves out, one GoogleTest pattern a line.
set "I686_LEFT_OUT="
set "WHY=the kit is incomplete: i686-exclusions.txt is missing beside run-tests.cmd"
if not exist "%KIT%\i686-exclusions.txt" goto not_run
set "WHY=the kit is incomplete: %CHECK% is missing"
if not exist "%CHECK%" goto not_run
for /f "usebackq eol=# tokens=1" %%p in ("i686-exclusions.txt") do call :leave_out %%p

rem (In a .cmd file "set" clears ERRORLEVEL: each reason is set first.)
set "WHY=the tests need full rights: run run-tests.cmd as an administrator"
"%CHECK%" rights
if errorlevel 1 goto not_run
rem The tests show and click windows: a session without a desktop of its own
rem is told once, rather than every window test failing (the checker says
rem above what it found).
set "WHY=the tests need an interactive desktop, which this session lacks (a service, a job with no user logged on, or a locked screen)"
"%CHECK%" desktop
if errorlevel 1 goto not_run
if exist "%KIT%\results-i686.xml" del "%KIT%\results-i686.xml"
if exist "%KIT%\results-x86_64.xml" del "%KIT%\results-x86_64.xml"
set "WHY=the machine's state before the runs could not be recorded"
"%CHECK%" snapshot "%KIT%\machine-before.txt"
if errorlevel 1 goto not_run
for %%r in (%AUTORUN_KIT_RUNS%) do call :run %%r
echo.
"%CHECK%" finish "%KIT%\machine-before.txt" %RUNS%

set "STATUS=%ERRORLEVEL%"
if defined PROMPT_AT_END pause
exit /b %STATUS%

:not_run
echo.
echo NOT RUN: %WHY%
set "STATUS=2"
if defined PROMPT_AT_END pause
exit /b %STATUS%

:usage
echo usage: run-tests.cmd [/unattended]
exit /b 2

rem One run: the test program built for it drives the program under test
rem beside it. Left out of the i686 run, as in the project's own runs: the
rem tests i686-exclusions.txt names, with the reasons.
:run
set "RUN=%~1"
set "LEFT_OUT="
if "%RUN%"=="i686" set "LEFT_OUT=%I686_LEFT_OUT%"
set "WHAT=32-bit x86"
if "%RUN%"=="x86_64" set "WHAT=64-bit x86"
if "%RUN%"=="x86_64" if not defined WIN64 if not defined ARM64 goto no_x86_64
"%KIT%\%RUN%\kit_check.exe" started >nul 2>&1
if not "%ERRORLEVEL%"=="0" goto does_not_start
set "AUTORUN_RUN=%RUN%"
set "AUTORUN_TEST_BUILD=%KIT%\%RUN%"
echo.
echo ===== %RUN% run: %KIT%\%RUN%\autorun.exe =====
"%KIT%\%RUN%\wine_tests.exe" "--gtest_filter=%AUTORUN_KIT_FILTER%-%LEFT_OUT%" "--gtest_output=xml:%KIT%\results-%RUN%.xml"
set RUNS=%RUNS% "%RUN%=%KIT%\results-%RUN%.xml=%ERRORLEVEL%"
goto :eof

rem No block in parentheses: a ")" in the kit's path would end it early.
:leave_out
if defined I686_LEFT_OUT set "I686_LEFT_OUT=%I686_LEFT_OUT%:"
set "I686_LEFT_OUT=%I686_LEFT_OUT%%~1"
goto :eof

:no_x86_64
set RUNS=%RUNS% "x86_64=skip=this Windows is not a 64-bit x86 one"
goto :eof

rem A Windows without its 32-bit layer, Windows 10 on ARM for x64 programs,
rem or Wine on a machine that cannot run 32-bit code: the run's programs do
rem not start at all.
:does_not_start
echo.
echo ===== %RUN% run: not run, %WHAT% programs do not start here =====
set RUNS=%RUNS% "%RUN%=skip=%WHAT% programs do not start here (%RUN%\kit_check.exe did not start)"
goto :eof
