#!/usr/bin/env bash
# vexhold-serve side by side with direct loopback and the peers, through the
# shared harness: the standard steps, then the scale steps (hold, rr64), then
# the connection-rate steps once more on a backend whose heap holds still.
#   bench/peerbench.sh [BUILD_DIR] [run.sh options...]   (default build/linux)
# The peers come from scripts/bench-setup.sh. Results land in the harness's
# results/ folder; the tables are printed at the end of each run.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/linux}" && pwd)
[ $# -gt 0 ] && shift
harness=${PEERBENCH:-$root/../shared/peerbench}
serve=$build/serve/vexhold-serve
[ -x "$serve" ] || { echo "no $serve: build the linux preset first" >&2; exit 1; }
# Sized for the hold step as the peers' configurations are (haproxy maxconn 9000).
relay="vexhold=$root/bench/peerbench-vexhold.sh $serve {DIR} {LISTEN_PORT} {TARGET_PORT} --max-connections 10000"
# The same with the busy poll off: an event thread always sleeps at once.
sleeping="vexhold-sleep=$root/bench/peerbench-vexhold.sh $serve {DIR} {LISTEN_PORT} {TARGET_PORT} --max-connections 10000 --busy-poll 0"
cd "$harness"
harness() { ./run.sh --relay "$relay" --relay "$sleeping" "$@"; }
harness --label vexhold "$@"
harness --label vexhold-scale --modes hold,rr64 --hold 8000 "$@"
# After the bulk steps the harness's backend page-faults in the zero-fill of
# its 64 KiB per-connection buffer (about nine faults per connection), so
# conn/s c8 there measures the backend, for every relay alike. A fixed glibc
# trim threshold ends the faults; it applies to every program of this run.
MALLOC_TRIM_THRESHOLD_=1073741824 harness --label vexhold-conn --modes cps1,cps8 "$@"
