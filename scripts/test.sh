#!/usr/bin/env bash
# Builds both presets and runs every test: the native unit tests, then the end-to-end tests that drive
# Corvix.exe under Wine (inside Xvfb) against the stand-in Office.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

cmake --preset native
cmake --build --preset native -j"$(nproc)"
ctest --preset native

if [ -f standin/server/CMakeLists.txt ]; then
  cmake --preset mingw-x64
  cmake --build --preset mingw-x64 -j"$(nproc)"
  source scripts/wine-env.sh
  ctest --preset mingw-x64
fi
