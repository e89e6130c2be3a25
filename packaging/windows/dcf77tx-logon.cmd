@echo off
rem One run of dcf77tx with the options of settings.txt, appending what it
rem prints to dcf77tx.log; both are in %ProgramData%\dcf77tx. The status is
rem dcf77tx's. The logon task starts it, hidden, through dcf77tx-logon.vbs.
rem Delayed expansion (!NAME!) passes the values on as they are: no & | < >
rem in them is taken as a command.
setlocal EnableDelayedExpansion
set "folder=%ProgramData%\dcf77tx"
set "log=%folder%\dcf77tx.log"
rem What the settings leave out.
set "OUTPUT=--audio"
set "DEVICE=default"
set "FACTOR=100"
set "OPTIONS=--zone cet"
if exist "%folder%\settings.txt" for /f "usebackq eol=# tokens=1,* delims==" %%a in ("%folder%\settings.txt") do (
  if "%%a"=="OUTPUT" set "OUTPUT=%%b"
  if "%%a"=="DEVICE" set "DEVICE=%%b"
  if "%%a"=="FACTOR" set "FACTOR=%%b"
  if "%%a"=="OPTIONS" set "OPTIONS=%%b"
)
rem Past a megabyte (about a week of status lines) the log starts afresh,
rem the last one kept as dcf77tx.log.old.
if exist "%log%" for %%f in ("%log%") do if %%~zf GTR 1048576 move /y "%log%" "%log%.old" >nul
>>"%log%" echo %DATE% %TIME% starting: dcf77tx !OUTPUT! "!DEVICE!" --factor "!FACTOR!" --follow --verbose !OPTIONS!
"%~dp0dcf77tx.exe" !OUTPUT! "!DEVICE!" --factor "!FACTOR!" --follow --verbose !OPTIONS! >>"%log%" 2>&1
set status=!ERRORLEVEL!
>>"%log%" echo %DATE% %TIME% dcf77tx ended with status !status!
exit /b !status!
