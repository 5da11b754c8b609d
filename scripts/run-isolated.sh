#!/usr/bin/env bash
# Runs one test program (or a whole Wine stage) so that no other test program
# on this machine can take its ports, and it cannot take theirs:
#   scripts/run-isolated.sh program [args...]
# Where the system allows it (CI runs as root) the program gets a network
# namespace of its own whose only interface is a loopback of its own. Every
# port is free there, whatever else runs on the machine. Elsewhere it gets a
# block of 1000 ports that no other program started by this script holds
# meanwhile, in VEXHOLD_TEST_PORTS ("first-last"); the tests take their ports
# from it. VEXHOLD_ISOLATION=ports asks for a block even where a namespace
# could be had.
set -u

if [ -n "${VEXHOLD_ISOLATED:-}" ]; then
  exec "$@"
fi

if [ "${VEXHOLD_ISOLATION:-}" != ports ] && command -v ip >/dev/null &&
  unshare --net true 2>/dev/null; then
  export VEXHOLD_ISOLATED=namespace
  exec unshare --net bash -c 'ip link set lo up || exit 1; exec "$@"' run-isolated "$@"
fi

# Blocks of 1000 ports within 20000-31999, below every system's ephemeral
# range. The lock lives as long as the program: its descriptor is inherited.
lock_dir="${TMPDIR:-/tmp}/vexhold-test-ports"
mkdir -p "$lock_dir"
export VEXHOLD_ISOLATED=ports
while :; do
  for block in $(seq 0 11 | shuf); do
    exec 9>"$lock_dir/$block.lock"
    if flock -n 9; then
      first=$((20000 + block * 1000))
      export VEXHOLD_TEST_PORTS="$first-$((first + 999))"
      exec "$@"
    fi
    exec 9>&-
  done
  sleep 0.2
done
