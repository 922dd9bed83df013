#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer with AddressSanitizer and UBSan, build/fuzz) and runs
# each for SECONDS (default 600), two at a time, from the committed seed corpora. Prints each
# target's runs, coverage and peak memory; exits non-zero when any target found a crash, leak
# or hang (the input is kept in build/fuzz/fuzz/work/TARGET/artifacts).
#   usage: tests/fuzz.sh [SECONDS] [TARGET ...]   targets: ini_reader lists configs zip_extract
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(ini_reader lists configs zip_extract)
bash "$root/scripts/setup.sh" >/dev/null || { echo "set-up failed"; exit 1; }
build=$root/build/fuzz
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DVOREL_SANITIZE=fuzzer -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVOREL_UPDATE_HOST=http://127.0.0.1:9 -DVOREL_ANALYTICS_HOST=http://127.0.0.1:9 >/dev/null || exit 1
cmake --build "$build" -j "$(nproc)" | grep -Ev '^\[[0-9]+/[0-9]+\] ' || true
mkdir -p "$build/logs"
run() {
  bash "$root/fuzz/run.sh" "$build/fuzz/$1_fuzz" "$root/fuzz/corpus/$1" "$build/fuzz/work/$1" "$seconds" \
    >"$build/logs/$1.log" 2>&1
  echo $? >"$build/logs/$1.rc"
}
running=0
for t in "${targets[@]}"; do
  run "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$(nproc)" ]; then wait -n; running=$((running - 1)); fi
done
wait
status=0
for t in "${targets[@]}"; do
  rc=$(cat "$build/logs/$t.rc")
  stats=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$build/logs/$t.log" | tail -n 1)
  peak=$(grep -E '^stat::peak_rss_mb' "$build/logs/$t.log" | awk '{print $2}')
  printf '%-12s %s  %s s  peak %s MB  %s\n' "$t" "$([ "$rc" = 0 ] && echo ok || echo FAILED)" "$seconds" "$peak" "$stats"
  [ "$rc" = 0 ] || { status=1; grep -E 'ERROR|SUMMARY|Test unit written' "$build/logs/$t.log" | head -n 5; }
done
exit "$status"
