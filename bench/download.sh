#!/usr/bin/env bash
# download: single transfers and the two-worker zip package pass from a local nginx, against
# `curl -o` and `aria2c -j2` on the same server in the same run (see bench/download_bench.cpp).
#   usage: bench/download.sh BUILD_DIR PORT
set -euo pipefail
build=$1
port=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
export BENCH_DATA=${BENCH_DATA:-$root/build/bench-data}
data=$BENCH_DATA/download
util=$build/bench/vorel-bench-util

if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  echo "download: port $port is in use" >&2
  exit 1
fi
for tool in nginx curl aria2c; do
  command -v "$tool" >/dev/null || { echo "download: $tool is missing (run scripts/setup.sh)" >&2; exit 1; }
done

rm -rf "$data" && "$util" removed
mkdir -p "$data/server"
. "$root/scripts/nginx.sh"
start_nginx "$data/nginx" "$data/server" "$port"
trap 'stop_nginx "$data/nginx"' EXIT
"$build/bench/vorel-bench-download" "$data" "http://127.0.0.1:$port/"
stop_nginx "$data/nginx"
trap - EXIT
if [ "${BENCH_KEEP:-0}" = 0 ]; then
  rm -rf "$data" && "$util" removed
fi
