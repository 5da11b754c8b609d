#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test:
# native Linux, AddressSanitizer+UBSan, ThreadSanitizer, the store fuzzer, and
# the Windows build (cross-compiled) under Wine.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh || exit 1

jobs=$(nproc)
failed=()
stage() {
  local name=$1; shift
  echo "=== $name"
  local t0=$SECONDS
  if "$@"; then
    echo "=== $name: ok ($((SECONDS - t0)) s)"
  else
    echo "=== $name: FAILED ($((SECONDS - t0)) s)"
    failed+=("$name")
  fi
}

native() {
  local preset=$1
  cmake --preset "$preset" >/dev/null &&
    cmake --build --preset "$preset" -j "$jobs" &&
    ctest --preset "$preset" -j "$jobs"
}

fuzz() {
  cmake --preset fuzz >/dev/null &&
    cmake --build --preset fuzz -j "$jobs" &&
    ctest --preset fuzz
}

windows() {
  cmake --preset windows >/dev/null && cmake --build --preset windows -j "$jobs" || return 1
  # One virtual display and one Wine prefix for the whole run.
  export WINEPREFIX="$root/build/windows/wineprefix"
  local xvfb_pid="" rc
  . scripts/wine-common.sh
  start_virtual_display || return 1
  ctest --preset windows
  rc=$?
  wineserver -k 2>/dev/null
  kill "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null
  return $rc
}

format() {
  local bad
  bad=$(git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run 2>&1 | grep -c 'warning:')
  [ "$bad" -eq 0 ] || { echo "clang-format would change $bad places"; return 1; }
}

stage format format
stage linux native linux
stage linux-asan native linux-asan
stage linux-tsan native linux-tsan
stage fuzz fuzz
stage windows windows

if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED stages: ${failed[*]}"
  exit 1
fi
echo "all stages passed"
