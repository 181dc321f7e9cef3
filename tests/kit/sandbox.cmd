@echo off
rem Runs the kit in Windows Sandbox (Windows 10 and 11 Pro, Enterprise, Education), a
rem Windows thrown away when it is closed: writes launcher-kit.wsb for this folder, which
rem Sandbox names by its full path, and starts it. The report comes back in results\ here.
"%~dp0programs\e2e.exe" --sandbox "%~dp0."
if errorlevel 1 pause
