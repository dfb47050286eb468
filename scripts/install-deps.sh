#!/usr/bin/env bash
# Installs what building, testing and fuzzing the tool need on Debian 12 (run as root).
#   scripts/install-deps.sh            the Linux build, tests (ansible-core for the Ansible
#                                      role's, minisign to sign packages, desktop-file-utils
#                                      for the desktop entries), fuzzing and packages
#   scripts/install-deps.sh --windows  also the Windows cross-build and wine to test it
set -euo pipefail
packages=(build-essential cmake qtbase5-dev libxcb1-dev libgcrypt20-dev openssl libssl-dev clang
  clang-format libclang-rt-14-dev ansible-core minisign desktop-file-utils)
if [ "${1:-}" = --windows ]; then
  packages+=(g++-mingw-w64-x86-64-posix libgcrypt-mingw-w64-dev wine64 xvfb xauth locales)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
