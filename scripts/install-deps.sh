#!/usr/bin/env bash
# Installs what building and testing Corvix on Debian needs: compilers, MinGW-w64, Wine and Xvfb; NSIS and
# msitools' wixl for the example installers, osslsigncode and openssl for signing the release.
set -euo pipefail

packages=(cmake g++ make libgtest-dev clang-format
          mingw-w64 mingw-w64-tools wine wine64 libwine-dev xvfb xauth x11-utils python3
          nsis wixl msitools osslsigncode openssl git)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
