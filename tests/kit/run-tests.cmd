@rem Runs the test kit: run-tests.cmd [RESULTS-FOLDER], from an elevated prompt. RunTests.exe does
@rem the work (readme.txt); this file only starts it and passes its exit code on.
@"%~dp0RunTests.exe" %*
@exit /b %errorlevel%
