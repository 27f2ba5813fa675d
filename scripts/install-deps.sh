#!/usr/bin/env bash
# Installs what building and testing Corvix on Debian needs: compilers, MinGW-w64, Wine (with its 32-bit
# half, so that 32-bit Windows programs run too) and Xvfb.
set -euo pipefail

packages=(cmake g++ make libgtest-dev clang-format
          mingw-w64 mingw-w64-tools wine wine64 wine32:i386 libwine-dev xvfb xauth x11-utils python3)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  # wine32 is an i386 package: its architecture has to be known before the package lists are read.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
