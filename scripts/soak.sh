#!/usr/bin/env bash
# Runs every loopback suite ROUNDS times (default 5) in each configuration,
# each round as CI runs it: the native builds (linux, linux-asan, linux-tsan)
# and the Windows build under Wine. Prints the failures per test and ends with
# "N passed, M failed", counting rounds.
#   scripts/soak.sh [ROUNDS] [CONFIG...]
set -uo pipefail
cd "$(dirname "$0")/.."

rounds=${1:-5}
shift $(( $# > 0 ? 1 : 0 ))
configs=("$@")
[ ${#configs[@]} -gt 0 ] || configs=(linux linux-asan linux-tsan windows)

bash scripts/setup.sh || exit 1
. scripts/test-stages.sh

logs=build/soak
mkdir -p "$logs"
for config in "${configs[@]}"; do rm -f "$logs/$config"-*.log; done
passed=0 failed=0
declare -A failures  # "config: test" -> rounds it failed in

for config in "${configs[@]}"; do
  echo "=== $config: building"
  if ! build_preset "$config" >"$logs/$config-build.log" 2>&1; then
    echo "=== $config: the build failed (see $logs/$config-build.log)"
    failed=$((failed + rounds))
    failures["$config: build"]=$rounds
    continue
  fi
  for round in $(seq "$rounds"); do
    log="$logs/$config-$round.log"
    t0=$SECONDS
    # The packages are not loopback suites; they are checked by test-all.sh.
    if [ "$config" = windows ]; then
      test_windows -E '^package_' --output-on-failure >"$log" 2>&1
    else
      test_native "$config" -E '^package_' --output-on-failure >"$log" 2>&1
    fi
    rc=$?
    if [ $rc -eq 0 ]; then
      passed=$((passed + 1))
      echo "=== $config round $round: passed ($((SECONDS - t0)) s)"
      continue
    fi
    failed=$((failed + 1))
    echo "=== $config round $round: FAILED ($((SECONDS - t0)) s, $log)"
    # Test cases that failed, else the programs (a crash or a time-out).
    mapfile -t names < <(
      { grep -oE '^\[  FAILED  \] [A-Za-z_][A-Za-z0-9_/.]*' "$log" | sed 's/^\[  FAILED  \] //'
        grep -oE '[0-9]+ - [A-Za-z0-9_]+ \((Failed|Timeout|SEGFAULT|Child aborted|Subprocess aborted|Exception)' "$log" |
          sed -E 's/^[0-9]+ - //; s/ \(/ (program: /; s/$/)/'; } | sort -u)
    [ ${#names[@]} -gt 0 ] || names=("(no test named; see $log)")
    for name in "${names[@]}"; do
      echo "    $name"
      key="$config: $name"
      failures["$key"]=$(( ${failures["$key"]:-0} + 1 ))
    done
  done
done

if [ "$failed" -gt 0 ]; then
  echo "failures per test (rounds):"
  for key in "${!failures[@]}"; do
    echo "  ${failures[$key]}  $key"
  done | sort -k2
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
