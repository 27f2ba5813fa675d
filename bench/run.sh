#!/usr/bin/env bash
# Benchmark: Corvix.exe's round trips per operation, with and without its name cache, and its running time
# under Wine against the stand-in Office at growing menu sizes. Prints figures; asserts nothing.
#   CORVIX_BUILD          the shipped build (default build/mingw-x64)
#   CORVIX_BENCH_NOCACHE  the build with -DCORVIX_NAME_CACHE=OFF, used only here (default build/bench-nocache)
#   CORVIX_BENCH_PREVIOUS a git revision whose Corvix.exe is timed beside this one in the same run (optional;
#                         built in build/bench-previous from a worktree of that revision)
#   BENCH_RUNS, BENCH_SIZES  see bench/bench.py
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
build="${CORVIX_BUILD:-build/mingw-x64}"
nocache="${CORVIX_BENCH_NOCACHE:-build/bench-nocache}"
toolchain=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release)
cmake -S . -B "$build" "${toolchain[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target Corvix office_standin e2e_driver >/dev/null
cmake -S . -B "$nocache" "${toolchain[@]}" -DCORVIX_NAME_CACHE=OFF >/dev/null
cmake --build "$nocache" -j"$(nproc)" --target Corvix >/dev/null
previous_exe=""
if [ -n "${CORVIX_BENCH_PREVIOUS:-}" ]; then
  [ -d build/bench-previous-src ] || git worktree add --detach build/bench-previous-src "$CORVIX_BENCH_PREVIOUS" >/dev/null
  git -C build/bench-previous-src checkout -q --detach "$CORVIX_BENCH_PREVIOUS"
  cmake -S build/bench-previous-src -B build/bench-previous "${toolchain[@]}" -DCORVIX_BUILD_TESTS=OFF >/dev/null
  cmake --build build/bench-previous -j"$(nproc)" --target Corvix >/dev/null
  previous_exe="$PWD/build/bench-previous/app/win32/Corvix.exe"
fi
source scripts/wine-env.sh
# Leaves no Wine program or X server running.
trap corvix_wine_end EXIT

wine --version >"$build/wine-version.txt" 2>/dev/null || true
echo "Machine: $(nproc) CPUs, $(grep -m1 "model name" /proc/cpuinfo | cut -d: -f2 | sed "s/^ //"), $(cat "$build/wine-version.txt")"
CORVIX_EXE="$build/app/win32/Corvix.exe" CORVIX_EXE_NOCACHE="$nocache/app/win32/Corvix.exe" \
  CORVIX_EXE_PREVIOUS="$previous_exe" \
  STANDIN_EXE="$build/standin/server/office_standin.exe" DRIVER_EXE="$build/tests/e2e/e2e_driver.exe" \
  python3 bench/bench.py
