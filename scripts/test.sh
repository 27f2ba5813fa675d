#!/usr/bin/env bash
# Builds every preset and runs every test: the native unit tests; the 32-bit Corvix.exe, checked by reading
# it (Wine here is 64-bit only); the release zip; then the end-to-end tests that drive the 64-bit
# Corvix.exe under Wine (inside Xvfb) against the stand-in Office.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

cmake --preset native
cmake --build --preset native -j"$(nproc)"
ctest --preset native

cmake --preset mingw-x86
cmake --build --preset mingw-x86 -j"$(nproc)"
ctest --preset mingw-x86

cmake --preset mingw-x64
cmake --build --preset mingw-x64 -j"$(nproc)"

rm -f build/mingw-x64/Corvix-*-windows.zip
cmake --build --preset mingw-x64 --target package
CORVIX_PACKAGE="$(ls build/mingw-x64/Corvix-*-windows.zip)" PYTHONDONTWRITEBYTECODE=1 \
  python3 -m unittest -v tests/package/test_package.py

source scripts/wine-env.sh
ctest --preset mingw-x64
# The fault sweep's figures, from the passing tests' log.
grep -ho "faults survived: [0-9]*/[0-9]*" build/mingw-x64/Testing/Temporary/LastTest.log || true
