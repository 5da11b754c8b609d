#!/usr/bin/env bash
# The Windows zip as operators get it: built by CPack from this build, with
# both programs (the ones just built), the user guide with every picture it
# shows, and the licence, under one folder named for the version.
#   check_zip.sh BUILD_DIR VERSION SOURCE_DIR
set -uo pipefail
build=$1
version=$2
src=$3
. "$(dirname "$0")/check_lib.sh"

make_package "$build"
zip="$work/out/vexhold-$version-win64.zip"
[ -f "$zip" ] || { ls "$work/out"; echo "FAIL: no $zip"; exit 1; }

top="vexhold-$version-win64"
unzip -Z1 "$zip" | grep -v '/$' | sort >"$work/files"
{
  echo "$top/LICENSE.txt"
  echo "$top/vexhold-serve.exe"
  echo "$top/vexhold.exe"
  echo "$top/使用说明.md"
  (cd "$src/docs" && ls images/*.png | sed "s|^|$top/|")
} | sort >"$work/expected"
check "exactly the programs, the guide with its pictures and the licence" \
  diff -u "$work/expected" "$work/files"

mkdir "$work/x"
(cd "$work/x" && unzip -q "$zip") || fail "unzip"
check "vexhold.exe is the one built" cmp "$work/x/$top/vexhold.exe" "$build/ui/vexhold.exe"
check "vexhold-serve.exe is the one built" \
  cmp "$work/x/$top/vexhold-serve.exe" "$build/serve/vexhold-serve.exe"
check "the guide is the one in docs/" cmp "$work/x/$top/使用说明.md" "$src/docs/使用说明.md"
check "the licence is the project's" cmp "$work/x/$top/LICENSE.txt" "$src/LICENSE.txt"
# Every picture the guide shows is in the zip, at the path the guide uses.
missing=""
for ref in $(grep -o '](images/[^)]*\.png)' "$src/docs/使用说明.md" | sed 's/^](//; s/)$//'); do
  [ -f "$work/x/$top/$ref" ] || missing="$missing $ref"
done
check "every picture the guide names is there${missing:+ (missing:$missing)}" [ -z "$missing" ]
check "the guide shows pictures at all" grep -q '](images/.*\.png)' "$src/docs/使用说明.md"
# Static programs: no DLL of the build beside them is needed.
for exe in vexhold.exe vexhold-serve.exe; do
  dlls=$(x86_64-w64-mingw32-objdump -p "$work/x/$top/$exe" | awk '/DLL Name/ { print tolower($3) }' |
    grep -E 'libstdc|libgcc|libwinpthread' || true)
  check "$exe needs no runtime DLL" [ -z "$dlls" ]
done

echo "$failures failed"
[ "$failures" -eq 0 ]
