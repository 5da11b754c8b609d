#!/usr/bin/env bash
# Runs a Windows program under Wine: the project's own prefix, a Chinese locale,
# and a virtual display when none is set. Passes the program's exit code on.
#   scripts/wine-run.sh prog.exe [args...]
# WINEPREFIX may be set to use another prefix (one per concurrent user of Wine).
set -u

export WINEPREFIX="${WINEPREFIX:-$HOME/.cache/vexhold/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8

xvfb_pid=""
cleanup() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null; wait 2>/dev/null; }
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 199); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then disp=$n; break; fi
  done
  Xvfb ":$disp" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$disp"
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$disp" ] && break; sleep 0.05; done
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi

wine "$@"
