# Shared by the package checks. Source it: a scratch folder removed on exit,
# and check/fail that count failures.
work=$(mktemp -d /tmp/vexhold-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then echo "ok: $what"; else fail "$what"; fi; }
# Builds the package of BUILD_DIR into $work/out; exits on failure.
make_package() {
  cpack --config "$1/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
}
