#!/usr/bin/env bash
# Takes the user guide's pictures (docs/images/*.png) from the real
# vexhold.exe under Wine on a virtual display: builds the Windows programs and
# guide_shots.exe, runs it in its own Wine prefix, and keeps each picture
# recompressed. Look at every picture before committing it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target guide_shots vexhold -j 2

out="$root/build/windows/artifacts/guide"
rm -rf "$out"
mkdir -p "$out" docs/images

export WINEPREFIX="$root/build/windows/wineprefix-guide"
xvfb_pid=""
cleanup() {
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null || true
}
trap cleanup EXIT
. scripts/wine-common.sh
start_virtual_display
prepare_wine_prefix
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8

timeout 300 wine build/windows/docs/shots/guide_shots.exe

shots=("$out"/*.png)
[ -e "${shots[0]}" ] || { echo "guide-screenshots: no pictures were taken" >&2; exit 1; }
rm -f docs/images/*.png
for shot in "${shots[@]}"; do
  name=$(basename "$shot")
  crop=()
  # The notification area is the only thing on the virtual screen besides
  # the black background: trim to it, keep the row of icons (not the
  # window's caption) and show it twice the size.
  [ "$name" = 08-tray.png ] && crop=(-trim +repage -gravity south -crop x24+0+0 +repage
    -bordercolor black -border 6 -scale 200%)
  convert "$shot" "${crop[@]}" -strip -define png:compression-level=9 "docs/images/$name"
  echo "guide-screenshots: docs/images/$name"
done
# Every picture the guide shows must have been taken.
for ref in $(grep -o '](images/[^)]*\.png)' docs/使用说明.md | sed 's/^](//; s/)$//'); do
  [ -f "docs/$ref" ] || { echo "guide-screenshots: $ref was not taken" >&2; exit 1; }
done
