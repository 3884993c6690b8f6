# Sourced by the scripts that run Windows programs: one X display and one Wine environment.
#   dorvane_display       keeps $DISPLAY when it answers, else starts a private Xvfb on a free
#                         display number (1600x1300: the window at 144 DPI fits) and exports it;
#                         returns 1 when Xvfb does not start.
#   dorvane_display_stop  after the Wine programs of $WINEPREFIX have ended, stops that Xvfb (if
#                         dorvane_display started one). Wine's desktop process holds the display.
#   dorvane_wine_env      exports WINEPREFIX (kept when set, else build/windows/wineprefix),
#                         WINEDEBUG, WINEDLLOVERRIDES (kept when set) and WINEARCH.
dorvane_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
dorvane_xvfb_pid=""

dorvane_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local numfile
  numfile="$(mktemp)"
  Xvfb -displayfd 3 -screen 0 1600x1300x24 -nolisten tcp 3>"$numfile" >/dev/null 2>&1 &
  dorvane_xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$numfile" ] && break
    sleep 0.1
  done
  if [ ! -s "$numfile" ]; then
    rm -f "$numfile"
    kill "$dorvane_xvfb_pid" 2>/dev/null || true
    dorvane_xvfb_pid=""
    echo "Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$(head -n1 "$numfile")"
  rm -f "$numfile"
}

dorvane_display_stop() {
  [ -n "$dorvane_xvfb_pid" ] || return 0
  timeout 60 wineserver -w 2>/dev/null || true
  kill "$dorvane_xvfb_pid" 2>/dev/null || true
  wait "$dorvane_xvfb_pid" 2>/dev/null || true
  dorvane_xvfb_pid=""
}

dorvane_wine_env() {
  export WINEPREFIX="${WINEPREFIX:-$dorvane_root/build/windows/wineprefix}"
  export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}" WINEARCH=win64
}
