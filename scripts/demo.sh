#!/usr/bin/env bash
# The main job: builds Corvix.exe and the stand-in Office, seeds the stand-in Word with the add-in's toolbars
# and menu items, runs Corvix.exe under Wine (silently, as an uninstaller would), and prints Word's bars and
# menus before and after.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset mingw-x64 >/dev/null
cmake --build --preset mingw-x64 -j"$(nproc)"
source scripts/wine-env.sh

build=build/mingw-x64
state=$(mktemp -d /tmp/corvix-demo.XXXXXX)
# No process that the demo started outlives it: the stand-in, the prefix's wineserver with every Wine
# program in it, and the X server that wine-env.sh started. (The stand-in's files stay in $state.)
trap corvix_wine_end EXIT
cp "${1:-standin/scenarios/demo.txt}" "$state/scenario.txt"
win() { echo "Z:${1//\//\\}"; }

wine "$build/standin/server/office_standin.exe" /register --state "$(win "$state")"
wine "$build/standin/server/office_standin.exe" --state "$(win "$state")" --running &
server=$!
for _ in $(seq 1 600); do [ -e "$state/ready" ] && break; sleep 0.1; done

echo "=== Before: the stand-in Office"
grep -v "^references held" "$state/initial_state.txt"

echo "=== Running: Corvix.exe /s"
printf '/s' >"$state/arguments.txt"
wine "$build/tests/e2e/e2e_driver.exe" "$build/app/win32/Corvix.exe" "$(win "$state/arguments.txt")" \
  "$(win "$state/report.txt")"
grep -E '^(exit_code|messages|frmMain_visible)=' "$state/report.txt"

touch "$state/stop"
wait "$server"
for _ in $(seq 1 600); do [ -e "$state/state.txt" ] && break; sleep 0.1; done
echo "=== After: the stand-in Office"
cat "$state/state.txt"
echo "=== What Corvix removed"
grep -E '\.Delete\(' "$state/journal.txt" | grep -v ' -> failed' | sed -E 's/^[0-9]+ //; s/\.Delete\(\) -> .*/ deleted/'
wine "$build/standin/server/office_standin.exe" /unregister
