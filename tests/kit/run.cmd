@echo off
rem Runs every case of the launcher kit on this Windows and writes results\report.txt and
rem results\report.xml (JUnit); its exit status is the number of failed cases.
rem   run.cmd [/yes] [results folder]
rem /yes: no question before it changes anything, and no pause at its end (a virtual
rem machine, CI, Windows Sandbox).
setlocal
set "yes="
if /i "%~1"=="/yes" set "yes=--yes"
if defined yes shift
set "results=%~1"
if not defined results set "results=%~dp0results"
"%~dp0programs\e2e.exe" --kit %yes% "%~dp0." "%results%"
set status=%errorlevel%
if not defined yes pause
exit /b %status%
