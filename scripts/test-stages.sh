# The build and test stages of scripts/test-all.sh, shared with
# scripts/soak.sh. Source it from the project root; each function returns
# non-zero when its stage failed.

jobs=$(nproc)

# Configures and builds one preset.
build_preset() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$jobs"
}

# Runs the tests of a native preset; further arguments go to ctest. Each
# loopback program runs isolated (scripts/run-isolated.sh), so they run side
# by side.
test_native() {
  local preset=$1; shift
  ctest --preset "$preset" -j "$jobs" "$@"
}

# Runs the tests of the Windows build under Wine: one virtual display, one
# Wine prefix and one Wine server for the whole stage, all isolated together
# (the service manager's services must share the tests' loopback).
test_windows() {
  WINEPREFIX="$PWD/build/windows/wineprefix" \
    scripts/run-isolated.sh bash -c '
      . scripts/wine-common.sh
      xvfb_pid=""
      start_virtual_display || exit 1
      ctest --preset windows "$@"
      rc=$?
      wineserver -k 2>/dev/null
      kill "$xvfb_pid" 2>/dev/null
      wait "$xvfb_pid" 2>/dev/null
      exit $rc' test-windows "$@"
}

test_fuzz() {
  ctest --preset fuzz "$@"
}

# The sources as clang-format would have them.
check_format() {
  local bad
  bad=$(git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run 2>&1 | grep -c 'warning:')
  [ "$bad" -eq 0 ] || { echo "clang-format would change $bad places"; return 1; }
}
