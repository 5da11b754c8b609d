#!/usr/bin/env bash
# Pipelined request/response with real programs: redis-benchmark against a
# local redis-server, directly and through vexhold-serve, in the same run.
# Loopback only; each run bounded by its request count and a time-out.
#   bench/redis-pipeline.sh <vexhold-serve> [rounds] [base-port]
# Needs redis-server and redis-benchmark (scripts/bench-setup.sh).
set -u
serve=${1:?usage: redis-pipeline.sh <vexhold-serve> [rounds] [base-port]}
rounds=${2:-3}
base=${3:-34000}
redis_port=$((base + 1))
relay_port=$((base + 2))
dir=$(mktemp -d)
# Waits for both to end, so a run straight after finds the ports free.
trap 'kill "${redis_pid:-}" "${serve_pid:-}" 2>/dev/null; wait; rm -rf "$dir"' EXIT

redis-server --port "$redis_port" --bind 127.0.0.1 --save '' --appendonly no \
  --daemonize no >"$dir/redis.log" 2>&1 &
redis_pid=$!
printf '[Num]\r\nNumber=1\r\nQueldaUrlList=\r\n[1]\r\nCport=%s\r\nIP=127.0.0.1\r\nSport=%s\r\n' \
  "$relay_port" "$redis_port" >"$dir/setting.ini"
"$serve" --dir "$dir" --quiet 2>"$dir/serve.log" &
serve_pid=$!
# redis-benchmark retries a port nobody listens on yet without end: wait for
# the server's answer through the relay first (at most 5 s).
answers() { [ "$(redis-cli -p "$relay_port" ping 2>/dev/null)" = PONG ]; }
for _ in $(seq 50); do answers && break; sleep 0.1; done
answers || { echo "no answer from redis-server through the relay (port $relay_port)" >&2; exit 1; }
timeout 60 redis-benchmark -h 127.0.0.1 -p "$redis_port" -q -t lpush -n 1000 >/dev/null  # the list LRANGE reads

rate() {  # requests per second of one run against port $1
  timeout 120 redis-benchmark -h 127.0.0.1 -p "$1" -c 16 -n 50000 -P 16 -t lrange_100 -q |
    tr '\r' '\n' | grep -aoE '[0-9.]+ requests per second' | tail -1 | awk '{print $1}'
}
echo "| round | direct req/s | vexhold req/s | vexhold/direct |"
echo "|---|---:|---:|---:|"
for r in $(seq "$rounds"); do
  d=$(rate "$redis_port")
  v=$(rate "$relay_port")
  echo "| $r | $d | $v | $(awk -v a="$v" -v b="$d" 'BEGIN { printf "%.2f", a / b }') |"
done
