#!/usr/bin/env bash
# A Wine lane: a Wine prefix and an X display of its own, so that end-to-end tests in different lanes run at
# the same time without seeing each other's COM registrations, running objects or windows.
#   wine-lane.sh start DIR   makes DIR/prefix (on first use), starts an Xvfb and the prefix's wineserver
#                            (through wine-env.sh), and writes DIR/env (WINEPREFIX=..., DISPLAY=...,
#                            PATH=..., and the other variables of wine-env.sh) for the tests to read
#   wine-lane.sh stop DIR    ends that Xvfb and wineserver; the prefix stays for the next run
# The tests' harness (tests/e2e/harness.py) takes DIR from CORVIX_WINE_LANE. Everything this starts writes
# to DIR/lane.log, never to the caller's output: CTest would wait for a pipe that a server still holds.
set -euo pipefail
action="${1:?start or stop}"
dir="$(mkdir -p "${2:?the lane folder}" && cd "$2" && pwd)"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

stop() {
  if [ -f "$dir/xvfb.pid" ]; then
    kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
    rm -f "$dir/xvfb.pid"
  fi
  WINEPREFIX="$dir/prefix" wineserver -k >/dev/null 2>&1 || true
  rm -f "$dir/env"
}

case "$action" in
stop)
  stop
  ;;
start)
  stop
  : >"$dir/lane.log"
  # A display of its own, from a range of its own; wine-env.sh starts the Xvfb.
  unset DISPLAY
  export CORVIX_WINEPREFIX="$dir/prefix" CORVIX_XVFB_DISPLAYS="121 160"
  # shellcheck source=wine-env.sh
  rc=0
  source "$root/scripts/wine-env.sh" </dev/null >>"$dir/lane.log" 2>&1 || rc=$?
  [ -z "${CORVIX_XVFB_PID:-}" ] || echo "$CORVIX_XVFB_PID" >"$dir/xvfb.pid"
  if [ "$rc" -ne 0 ]; then
    cat "$dir/lane.log" >&2
    exit 1
  fi
  for name in WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES DISPLAY PATH CORVIX_HOST_RUNS_32BIT; do
    printf '%s=%s\n' "$name" "${!name}"
  done >"$dir/env"
  echo "wine-lane.sh: $dir on display $DISPLAY"
  ;;
*)
  echo "wine-lane.sh: start or stop, not $action" >&2
  exit 1
  ;;
esac
