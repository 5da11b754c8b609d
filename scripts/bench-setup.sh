#!/usr/bin/env bash
# Installs the relays the side-by-side benchmark compares against, and the
# real programs of the pipelined case (benchmarking only; the build and the
# tests do not need them). Does nothing when they are
# all present.
set -euo pipefail

need=()
command -v socat >/dev/null || need+=(socat)
command -v rinetd >/dev/null || need+=(rinetd)
command -v redir >/dev/null || need+=(redir)
command -v haproxy >/dev/null || need+=(haproxy)
if ! command -v nginx >/dev/null; then
  need+=(nginx-light libnginx-mod-stream)
elif ! nginx -V 2>&1 | grep -q -- '--with-stream' && [ ! -e /usr/lib/nginx/modules/ngx_stream_module.so ]; then
  need+=(libnginx-mod-stream)
fi
command -v ss >/dev/null || need+=(iproute2)
# Real client programs tried through the relay, and redis for the pipelined
# request/response case (bench/README.md).
command -v iperf3 >/dev/null || need+=(iperf3)
command -v redis-server >/dev/null || need+=(redis-server)
command -v redis-benchmark >/dev/null || need+=(redis-tools)
command -v wrk >/dev/null || need+=(wrk)
command -v taskset >/dev/null || need+=(util-linux)

if [ ${#need[@]} -eq 0 ]; then
  echo "bench-setup: everything is installed"
  exit 0
fi
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get install -y --no-install-recommends "${need[@]}" || {
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${need[@]}"
}
# The packages start their services; the benchmark runs its own instances.
for svc in nginx haproxy rinetd redis-server; do
  $sudo systemctl stop "$svc" 2>/dev/null || $sudo service "$svc" stop 2>/dev/null || true
done
echo "bench-setup: installed ${need[*]}"
