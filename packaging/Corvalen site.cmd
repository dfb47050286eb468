@echo off
rem Opens the site window, with this folder (its config, trusted_keys, records) as the working directory.
cd /d "%~dp0"
corvalen.exe --site
