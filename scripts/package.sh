#!/usr/bin/env bash
# Builds and makes both release packages into dist/: the Debian package
# (corvalen-upgrade_VERSION_amd64.deb, Debian's Qt libraries as dependencies)
# and the Windows zip (corvalen-upgrade-VERSION-win64.zip: corvalen.exe, a
# sample config and README.txt). The zip needs what scripts/build-windows.sh
# needs; set NO_WINDOWS=1 to make the Debian package alone.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p dist
BUILD_DIR=build "$(dirname "$0")/build.sh"
(cd build && cpack -B "$PWD/../dist")
if [ "${NO_WINDOWS:-0}" != 1 ]; then
  BUILD_DIR=build-win "$(dirname "$0")/build-windows.sh"
  (cd build-win && cpack -B "$PWD/../dist")
fi
rm -rf dist/_CPack_Packages
ls -l dist
