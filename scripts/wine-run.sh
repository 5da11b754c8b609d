#!/usr/bin/env bash
# Runs a Windows program under Wine: the project's own prefix, a Chinese locale,
# and a virtual display when none is set. Passes the program's exit code on.
#   scripts/wine-run.sh prog.exe [args...]
# WINEPREFIX may be set to use another prefix (one per concurrent user of Wine).
set -u

. "$(dirname "$0")/wine-common.sh"
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8

xvfb_pid=""
cleanup() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null; wait 2>/dev/null; }
trap cleanup EXIT

[ -n "${DISPLAY:-}" ] || start_virtual_display || exit 1
prepare_wine_prefix

wine "$@"
