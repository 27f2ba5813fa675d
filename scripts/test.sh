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
# Nothing that this run started outlives it: the X server that wine-env.sh started, and the main prefix's
# wineserver with every Wine program in it (the lanes' fixtures end their own).
trap corvix_wine_end EXIT
log=build/test-wine.log
: >"$log"
# The release signed with a throwaway certificate: it verifies, its sums follow, and it still runs.
started=$(date +%s)
CORVIX_PACKAGE="$(ls build/mingw-x64/Corvix-*-windows.zip)" CORVIX_EXE=build/mingw-x64/app/win32/Corvix.exe \
  STANDIN_EXE=build/mingw-x64/standin/server/office_standin.exe DRIVER_EXE=build/mingw-x64/tests/e2e/e2e_driver.exe \
  PYTHONDONTWRITEBYTECODE=1 python3 -m unittest -v tests/package/test_signing.py 2>&1 | tee -a "$log"
echo "test.sh: signing test took $(($(date +%s) - started)) s"
ctest --preset mingw-x86 2>&1 | tee "$log.mingw-x86"
ctest --preset mingw-x64 2>&1 | tee "$log.mingw-x64"
# The fault sweep's figures, from the passing tests' log.
grep -ho "faults survived: [0-9]*/[0-9]*" build/mingw-x64/Testing/Temporary/LastTest.log || true
# What did not run here, and why: the signing test's 32-bit run, and CTest's skipped tests.
skipped=""
if grep -q "skipped .this host's kernel runs no 32-bit programs" "$log"; then
  skipped+="test_signing's run of the signed 32-bit Corvix.exe, "
fi
for preset in mingw-x86 mingw-x64; do
  tests=$(sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (Skipped)$/\1/p' "$log.$preset" | tr '\n' ' ')
  [ -z "$tests" ] || skipped+="$preset: ${tests% }, "
done
if [ -n "$skipped" ]; then
  echo "test.sh: not run on this host: ${skipped%, } (this host's kernel runs no 32-bit programs$(
    [ "${CORVIX_NO_32BIT:-0}" = 1 ] && echo ", CORVIX_NO_32BIT=1"))"
else
  echo "test.sh: every test ran"
fi
