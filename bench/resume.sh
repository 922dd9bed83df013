#!/usr/bin/env bash
# resume: a 1 GiB package from the local test server, which cuts every answer after 64 MiB,
# fetched with resumable downloads on and off (see bench/resume_bench.cpp).
#   usage: bench/resume.sh BUILD_DIR
set -euo pipefail
build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
export BENCH_DATA=${BENCH_DATA:-$root/build/bench-data}
data=$BENCH_DATA/resume
util=$build/bench/vorel-bench-util

rm -rf "$data" && "$util" removed
mkdir -p "$data"
# Loopback transfers must never go through a proxy from the environment.
export no_proxy=127.0.0.1,localhost NO_PROXY=127.0.0.1,localhost
. "$root/tests/server/start-servers.sh"
start_test_servers "$data/server"
trap stop_test_servers EXIT
"$build/bench/vorel-bench-resume" "$data" "$VOREL_TEST_DOCROOT" "http://$VOREL_TEST_HTTP/"
stop_test_servers
trap - EXIT
if [ "${BENCH_KEEP:-0}" = 0 ]; then
  rm -rf "$data" && "$util" removed
fi
