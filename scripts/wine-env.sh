# Sourced: a Wine prefix and an X display for running the Windows programs.
#   CORVIX_WINEPREFIX     the prefix to use (default: build/wineprefix in the source tree)
#   CORVIX_XVFB_DISPLAYS  the displays an Xvfb it starts may take (default: "90 120")
#   CORVIX_NO_32BIT=1     behave as on a host whose kernel runs no 32-bit programs (scripts/host-32bit.sh)
# Exports CORVIX_HOST_RUNS_32BIT (1 or 0); defines corvix_wine_end (see the end).
# Starts Xvfb when no display answers, and creates the prefix on first use.
_corvix_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${CORVIX_WINEPREFIX:-$_corvix_root/build/wineprefix}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  # CORVIX_XVFB_DISPLAYS: the display numbers to pick a free one from, "first last". A lock keeps scripts
  # that start at the same time (the Wine lanes, scripts/wine-lane.sh) from taking the same one.
  read -r _corvix_first _corvix_last <<<"${CORVIX_XVFB_DISPLAYS:-90 120}"
  exec 9>/tmp/.corvix-xvfb.lock
  flock 9
  for n in $(seq "$_corvix_first" "$_corvix_last"); do
    [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ] || continue
    setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 9>&- &
    _corvix_xvfb=$!
    export DISPLAY=":$n"
    # Ready when it answers and its lock names it: a display whose files are gone while its server still
    # runs (one that is ending, say) answers too, and then the new Xvfb cannot listen and ends.
    for _ in $(seq 1 100); do
      kill -0 "$_corvix_xvfb" 2>/dev/null || break
      if [ "$(tr -d ' \n' 2>/dev/null <"/tmp/.X$n-lock")" = "$_corvix_xvfb" ] && xdpyinfo >/dev/null 2>&1; then
        # For the caller that wants to end it: scripts/test.sh and scripts/wine-lane.sh do.
        CORVIX_XVFB_PID=$_corvix_xvfb
        break 2
      fi
      sleep 0.1
    done
    kill "$_corvix_xvfb" 2>/dev/null || true
    unset DISPLAY
  done
  flock -u 9
  exec 9>&-
  # Without a display Wine makes no window at all: every message box fails at once, unseen.
  if ! xdpyinfo >/dev/null 2>&1; then
    echo "wine-env.sh: no X display (all of :$_corvix_first to :$_corvix_last are taken, or Xvfb did not start)" >&2
    return 1
  fi
fi

# On a host whose kernel runs no 32-bit programs, every Wine program runs through 64-bit Wine directly:
# Debian's own `wine` would start the 32-bit loader first whenever wine32 is installed. The tests that need
# 32-bit code skip themselves there (scripts/host-32bit.sh --run).
if bash "$_corvix_root/scripts/host-32bit.sh" --quiet; then
  export CORVIX_HOST_RUNS_32BIT=1
else
  export CORVIX_HOST_RUNS_32BIT=0
  case ":$PATH:" in
    *":$_corvix_root/scripts/wine64:"*) ;;
    *) export PATH="$_corvix_root/scripts/wine64:$PATH" ;;
  esac
fi

# A prefix made before wine32 was installed cannot run 32-bit programs ("could not load kernel32.dll"):
# one that does not say it was made with wine32 is made anew once wine32 is there (and can run).
_corvix_wine32=0
if [ "$CORVIX_HOST_RUNS_32BIT" = 1 ] &&
   dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  _corvix_wine32=1
fi
if [ -f "$WINEPREFIX/system.reg" ] && [ "$_corvix_wine32" = 1 ] && [ ! -f "$WINEPREFIX/.made-with-wine32" ]; then
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w 2>/dev/null || true
  if [ "$_corvix_wine32" = 1 ]; then touch "$WINEPREFIX/.made-with-wine32"; fi
fi
wineserver -p 2>/dev/null || true

# For a script that sources this one and wants to leave nothing running: `trap corvix_wine_end EXIT` ends the
# prefix's wineserver, with every Wine program in it, and the X server started above.
corvix_wine_end() {
  wineserver -k 2>/dev/null || true
  if [ -n "${CORVIX_XVFB_PID:-}" ]; then kill "$CORVIX_XVFB_PID" 2>/dev/null || true; fi
}
