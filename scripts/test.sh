#!/usr/bin/env bash
# Builds every preset and runs every test: the native unit tests, also under the sanitizers; the 32-bit
# Corvix.exe and stand-in Office (the exe read, the stand-in checked under Wine); the release zip, rebuilt
# twice elsewhere for reproducibility and signed with a throwaway certificate; then the end-to-end tests
# under Wine (inside Xvfb): the 64-bit and the 32-bit Corvix.exe against the 64-bit stand-in Office, the
# 64-bit Corvix.exe against the 32-bit one, and the example installers, in four Wine lanes side by side
# (cmake/wine_lanes.cmake).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

cmake --preset native
cmake --build --preset native -j"$(nproc)"
ctest --preset native

# The same unit tests under AddressSanitizer and UndefinedBehaviorSanitizer.
started=$(date +%s)
cmake --preset native-asan
cmake --build --preset native-asan -j"$(nproc)"
ctest --preset native-asan
echo "test.sh: sanitizer build and run took $(($(date +%s) - started)) s"

cmake --preset mingw-x86
cmake --build --preset mingw-x86 -j"$(nproc)"

cmake --preset mingw-x64
cmake --build --preset mingw-x64 -j"$(nproc)"

rm -f build/mingw-x64/Corvix-*-windows.zip
cmake --build --preset mingw-x64 --target package
CORVIX_PACKAGE="$(ls build/mingw-x64/Corvix-*-windows.zip)" PYTHONDONTWRITEBYTECODE=1 \
  python3 -m unittest -v tests/package/test_package.py
# Two clean builds of this commit in other folders give the same exes and zip (it prints its times).
bash tests/package/reproducible.sh

source scripts/wine-env.sh
# The X server that wine-env.sh started for this run ends with it.
trap 'if [ -n "${CORVIX_XVFB_PID:-}" ]; then kill "$CORVIX_XVFB_PID" 2>/dev/null || true; fi' EXIT
# The release signed with a throwaway certificate: it verifies, its sums follow, and it still runs.
started=$(date +%s)
CORVIX_PACKAGE="$(ls build/mingw-x64/Corvix-*-windows.zip)" CORVIX_EXE=build/mingw-x64/app/win32/Corvix.exe \
  STANDIN_EXE=build/mingw-x64/standin/server/office_standin.exe DRIVER_EXE=build/mingw-x64/tests/e2e/e2e_driver.exe \
  PYTHONDONTWRITEBYTECODE=1 python3 -m unittest -v tests/package/test_signing.py
echo "test.sh: signing test took $(($(date +%s) - started)) s"
ctest --preset mingw-x86
ctest --preset mingw-x64
# The fault sweep's figures, from the passing tests' log.
grep -ho "faults survived: [0-9]*/[0-9]*" build/mingw-x64/Testing/Temporary/LastTest.log || true
