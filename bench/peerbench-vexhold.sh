#!/usr/bin/env bash
# vexhold-serve as one relay of the side-by-side benchmark: writes
# DIR/setting.ini with the single pair LISTEN_PORT -> 127.0.0.1:TARGET_PORT,
# then serves it in the foreground (connection lines off, like the peers' logs).
#   peerbench-vexhold.sh SERVE_BINARY DIR LISTEN_PORT TARGET_PORT [serve options...]
# Note: the relay listens on all interfaces, not only on 127.0.0.1.
set -eu
bin=$1 dir=$2 lp=$3 tp=$4
shift 4
printf '[Num]\r\nNumber=1\r\nQueldaUrlList=\r\n[1]\r\nCport=%s\r\nIP=127.0.0.1\r\nSport=%s\r\n' \
  "$lp" "$tp" >"$dir/setting.ini"
exec "$bin" --dir "$dir" --quiet "$@"
