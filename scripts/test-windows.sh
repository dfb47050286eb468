#!/usr/bin/env bash
# Cross-builds for Windows (scripts/build-windows.sh, same variables and
# arguments) and runs every test under wine64, headless, on an Xvfb display
# of its own, with a wine prefix inside BUILD_DIR (C: is BUILD_DIR/wine/drive_c).
set -euo pipefail
cd "$(dirname "$0")/.."
"$(dirname "$0")/build-windows.sh" "$@"
build_dir=$(realpath "${BUILD_DIR:-build-win}")

wine_dir=/usr/lib/wine
export WINEPREFIX="$build_dir/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine opens windows even for console programs: give it a display nobody else uses.
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() {
  "$wine_dir/wineserver" -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=":$display"
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
# The wine server and its services outlive the program that starts them and
# keep its output open: start them here, or CTest waits on the first test
# until the last one ends.
mkdir -p "$WINEPREFIX"
"$wine_dir/wineserver" -p >/dev/null 2>&1
"$wine_dir/wine64" wineboot -i >/dev/null 2>&1
# Test runs wait on sensors more than they compute: twice as many as there are cores.
ctest --test-dir "$build_dir" --output-on-failure -j"$((2 * $(nproc)))"
