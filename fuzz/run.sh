#!/usr/bin/env bash
# Runs one fuzz target for a number of seconds, starting from its committed seed corpus. New
# inputs and any crashing input go to the work folder, never into the repository.
#   usage: fuzz/run.sh TARGET SEED_DIR WORK_DIR SECONDS
set -euo pipefail
target=$1 seeds=$2 work=$3 seconds=$4
mkdir -p "$work/corpus" "$work/artifacts"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# -timeout: one input running over 10 s counts as a hang; -rss_limit_mb: a runaway allocation.
exec "$target" "$work/corpus" "$seeds" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$work/artifacts/" -print_final_stats=1
