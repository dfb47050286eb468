#!/usr/bin/env bash
# Cross-builds the tool and its tests for 64-bit Windows with mingw-w64 against
# the static Qt in QT_MINGW_DIR (default ../shared/qt5-mingw), into BUILD_DIR
# (default build-win). It runs no tests: scripts/test-windows.sh builds with this
# script and runs them under wine. Extra arguments go to CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
qt_dir=$(realpath "${QT_MINGW_DIR:-../shared/qt5-mingw}")
build_dir=${BUILD_DIR:-build-win}
tarball="$qt_dir/qt5-mingw-5.15.8-static.tar.xz"
[ -f "$tarball" ] || { echo "build-windows: no $tarball" >&2; exit 1; }

# The Qt tree is unpacked once per build directory, again when the tarball changes.
mkdir -p "$build_dir"
qt_prefix=$(realpath "$build_dir")/qt5-mingw
stamp="$build_dir/qt5-mingw.stamp"
if [ ! -f "$stamp" ] || [ "$tarball" -nt "$stamp" ]; then
  rm -rf "$qt_prefix"
  tar -xJf "$tarball" -C "$build_dir"
  touch "$stamp"
fi

cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_PREFIX_PATH="$qt_prefix" -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build "$build_dir" -j"$(nproc)"
