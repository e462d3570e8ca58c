@echo off
rem Runs the menu program's end-to-end tests on this Windows machine: the
rem i686 run, and the x86_64 run where Windows is 64-bit. See README.TXT.
rem Writes results-RUN.xml (JUnit) beside itself, ends with one summary line,
rem and exits with 0 only when every test passed and nothing was left behind.
rem Optional: AUTORUN_KIT_RUNS (default "i686 x86_64"), AUTORUN_KIT_FILTER
rem (GoogleTest name patterns, default "*"), AUTORUN_KIT_NO_PAUSE.
setlocal
set "KIT=%~dp0"
set "KIT=%KIT:~0,-1%"
cd /d "%KIT%"
if not defined AUTORUN_KIT_RUNS set "AUTORUN_KIT_RUNS=i686 x86_64"
if not defined AUTORUN_KIT_FILTER set "AUTORUN_KIT_FILTER=*"
set "AUTORUN_BMP_TESTDATA=%KIT%\bmp"
set "WIN64="
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "WIN64=1"
if /i "%PROCESSOR_ARCHITEW6432%"=="AMD64" set "WIN64=1"
set RUNS=
rem The checker of this Windows's own bitness, which always starts.
set "CHECK=%KIT%\i686\kit_check.exe"
if defined WIN64 set "CHECK=%KIT%\x86_64\kit_check.exe"
rem The tests the i686 run leaves out, one GoogleTest pattern a line.
set "I686_LEFT_OUT="
if not exist "%KIT%\i686-exclusions.txt" goto no_exclusions
for /f "usebackq eol=# tokens=1" %%p in ("i686-exclusions.txt") do call :leave_out %%p

"%CHECK%" rights
if errorlevel 1 goto finish
if exist "%KIT%\results-i686.xml" del "%KIT%\results-i686.xml"
if exist "%KIT%\results-x86_64.xml" del "%KIT%\results-x86_64.xml"
"%CHECK%" snapshot "%KIT%\machine-before.txt"
if errorlevel 1 goto finish
for %%r in (%AUTORUN_KIT_RUNS%) do call :run %%r
echo.
"%CHECK%" finish "%KIT%\machine-before.txt" %RUNS%

:finish
set "STATUS=%ERRORLEVEL%"
if not defined AUTORUN_KIT_NO_PAUSE pause
exit /b %STATUS%

rem One run: the test program built for it drives the program under test
rem beside it. Left out of the i686 run, as in the project's own runs: the
rem tests i686-exclusions.txt names, with the reasons.
:run
set "RUN=%~1"
set "LEFT_OUT="
if "%RUN%"=="i686" set "LEFT_OUT=%I686_LEFT_OUT%"
if "%RUN%"=="x86_64" if not defined WIN64 goto no_x86_64
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

:no_exclusions
echo The kit is incomplete: i686-exclusions.txt is missing beside run-tests.cmd.
if not defined AUTORUN_KIT_NO_PAUSE pause
exit /b 2

:no_x86_64
set RUNS=%RUNS% "x86_64=skip=this Windows is not a 64-bit x86 one"
goto :eof
