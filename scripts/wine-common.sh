# Shared by the scripts that run Windows programs under Wine. Source it.

# Starts Xvfb on the first free display number, exports DISPLAY and sets
# xvfb_pid. The caller stops it.
start_virtual_display() {
  local n disp=""
  for n in $(seq 90 199); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then disp=$n; break; fi
  done
  [ -n "$disp" ] || { echo "no free display number" >&2; return 1; }
  Xvfb ":$disp" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$disp"
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$disp" ] && break; sleep 0.05; done
}

# The project's Wine settings, and the prefix made on first use.
prepare_wine_prefix() {
  export WINEPREFIX="${WINEPREFIX:-$HOME/.cache/vexhold/wine}"
  export WINEDEBUG="${WINEDEBUG:--all}"
  export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
}
