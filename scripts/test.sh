#!/usr/bin/env bash
# Builds every preset and runs every test: the native unit tests; the 32-bit Corvix.exe and stand-in Office
# (the exe read, the stand-in checked under Wine); the release zip; then the end-to-end tests under Wine
# (inside Xvfb): the 64-bit and the 32-bit Corvix.exe against the 64-bit stand-in Office, and the 64-bit
# Corvix.exe against the 32-bit one.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

cmake --preset native
cmake --build --preset native -j"$(nproc)"
ctest --preset native

cmake --preset mingw-x86
cmake --build --preset mingw-x86 -j"$(nproc)"

cmake --preset mingw-x64
cmake --build --preset mingw-x64 -j"$(nproc)"

rm -f build/mingw-x64/Corvix-*-windows.zip
cmake --build --preset mingw-x64 --target package
CORVIX_PACKAGE="$(ls build/mingw-x64/Corvix-*-windows.zip)" PYTHONDONTWRITEBYTECODE=1 \
  python3 -m unittest -v tests/package/test_package.py

source scripts/wine-env.sh
ctest --preset mingw-x86
ctest --preset mingw-x64
# The fault sweep's figures, from the passing tests' log.
grep -ho "faults survived: [0-9]*/[0-9]*" build/mingw-x64/Testing/Temporary/LastTest.log || true
