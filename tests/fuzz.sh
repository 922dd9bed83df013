#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer with AddressSanitizer and UBSan, build/fuzz) and runs
# each for SECONDS (default 600) through ctest, two at a time, from the committed seed corpora.
# Prints each target's runs, coverage and peak memory; exits non-zero when any target found a
# crash, leak or hang (the input is kept in build/fuzz/fuzz/work/TARGET/artifacts).
#   usage: tests/fuzz.sh [SECONDS] [TARGET ...]   targets: ini_reader lists configs zip_extract patch_apply
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-600}
shift || true
targets=$(IFS='|'; echo "${*:-.}")
bash "$root/scripts/setup.sh" >/dev/null || { echo "set-up failed"; exit 1; }
build=$root/build/fuzz
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DVOREL_SANITIZE=fuzzer -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVOREL_FUZZ_SECONDS="$seconds" -DVOREL_UPDATE_HOST=http://127.0.0.1:9 -DVOREL_ANALYTICS_HOST=http://127.0.0.1:9 \
  >/dev/null || exit 1
cmake --build "$build" -j "$(nproc)" | grep -Ev '^\[[0-9]+/[0-9]+\] ' || true
cd "$build" && ctest -j "$(nproc)" -L fuzz -R "fuzz_($targets)" -V |
  grep -E '^[0-9]+: (#[0-9]+.*DONE|stat::peak_rss_mb|.*(ERROR|SUMMARY|Test unit written))|tests passed|Test +#'
exit "${PIPESTATUS[0]}"
