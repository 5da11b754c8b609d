#!/usr/bin/env bash
# Builds vexhold.exe and starts it in the current directory (setting.ini is
# created there). On Linux it runs under Wine; without a display it starts a
# virtual one, saves a screenshot of the window and keeps running until Ctrl+C.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
here=$(pwd)

case "$(uname -s)" in
  MINGW* | MSYS* | CYGWIN*) native_windows=1 ;;
  *) native_windows=0 ;;
esac

if [ "$native_windows" -eq 0 ]; then
  bash "$root/scripts/setup.sh"
fi
(cd "$root" && cmake --preset windows >/dev/null && cmake --build --preset windows --target vexhold)
exe="$root/build/windows/ui/vexhold.exe"
[ -f "$exe" ] || { echo "run: $exe was not built" >&2; exit 1; }

if [ "$native_windows" -eq 1 ]; then
  exec "$exe"
fi

xvfb_pid=""
app_pid=""
cleanup() {
  # The program and its Wine processes are one process group of their own.
  [ -n "$app_pid" ] && kill -- "-$app_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null || true
}
trap cleanup EXIT
. "$root/scripts/wine-common.sh"
trap 'exit 130' INT TERM

if [ -z "${DISPLAY:-}" ]; then
  start_virtual_display
  echo "run: no display; started a virtual one at $DISPLAY"
fi

# Wine settings: a bitmap CJK face for the dialogs' 宋体 (as crisp as on
# Windows), and, on a virtual display without a window manager, frames and
# captions drawn by Wine itself.
[ -f "${WINEPREFIX:-$HOME/.cache/vexhold/wine}/system.reg" ] || echo "run: preparing the Wine prefix (the first run takes a while)"
prepare_wine_prefix
winereg() { LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 wine reg "$@" >/dev/null 2>&1 || true; }
for face in 宋体 SimSun; do
  winereg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ /d "WenQuanYi Zen Hei Sharp" /f
done
if [ -n "$xvfb_pid" ]; then
  winereg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
else
  winereg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f
fi

cd "$here"
setsid "$root/scripts/wine-run.sh" "$exe" &
app_pid=$!
echo "run: vexhold.exe started in $here (setting.ini is kept there)"

if [ -n "$xvfb_pid" ]; then
  shot="$here/vexhold-screenshot.png"
  title="端口映射"
  win=""
  for _ in $(seq 300); do  # the first start of a Wine prefix takes a while
    win=$(xwininfo -root -tree 2>/dev/null | grep -F "\"$title\"" | awk '{print $1}' | head -n1 || true)
    [ -n "$win" ] && break
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.2
  done
  if [ -n "$win" ]; then
    sleep 1  # let it paint
    import -window "$win" "$shot" && echo "run: screenshot of the window: $shot"
  else
    echo "run: the window did not appear; nothing to capture" >&2
  fi
  echo "run: the relays work on this machine's ports; press Ctrl+C to end"
fi

wait "$app_pid"
