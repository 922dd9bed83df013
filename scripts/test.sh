#!/usr/bin/env bash
# The whole test suite: set-up, four builds, and every test set.
#   native-asan  all tests (also the slow ones) with AddressSanitizer and UBSan
#   native-tsan  all fast tests with ThreadSanitizer (the reliability samples run in native-asan)
#   native-fuzz  each libFuzzer target for a few seconds (clang, AddressSanitizer and UBSan)
#   windows      the same portable tests as a Windows executable under Wine, the drawing tests,
#                and the window tests of the real VORELLauncher.exe on a private Xvfb display
# Ends with one summary line over all sets; exits non-zero on any failure.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
bash "$here/setup.sh" || { echo "set-up failed"; exit 1; }
. "$here/env.sh"

build="${VOREL_BUILD_DIR:-$root/build}"
jobs=$(nproc)
summary=()
total_passed=0
total_failed=0
status=0

configure_and_build() {  # name, cmake arguments...
  local name=$1
  shift
  echo "=== building $name"
  cmake -S "$root" -B "$build/$name" -G Ninja "$@" >"$build/$name.configure.log" 2>&1 \
    || { cat "$build/$name.configure.log"; return 1; }
  cmake --build "$build/$name" -j "$jobs" 2>&1 | grep -v '^\[' || true
  [ "${PIPESTATUS[0]}" -eq 0 ]
}

run_set() {  # name, ctest arguments...
  local name=$1
  shift
  echo "=== testing $name"
  local log="$build/$name.ctest.log"
  (cd "$build/$name" && ctest --output-on-failure -j "$jobs" "$@") 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local line
  line=$(grep -E '^[0-9]+% tests passed' "$log" | tail -n 1)
  local failed passed all skipped
  failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  all=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  if [ -z "$line" ]; then failed=1; all=1; rc=1; fi
  # ctest counts a skipped test (SKIP_RETURN_CODE) among the passed ones; it did not pass.
  skipped=$(grep -cE '^\s+[0-9]+ - .* \(Skipped\)$' "$log")
  passed=$((all - failed - skipped))
  total_passed=$((total_passed + passed))
  total_failed=$((total_failed + failed))
  summary+=("$name: $passed passed, $failed failed$([ "$skipped" = 0 ] || echo ", $skipped skipped")")
  [ "$rc" -eq 0 ] || status=1
}

mkdir -p "$build"
# Test builds talk to loopback only: the built-in update address is a port where nothing listens.
loopback=(-DVOREL_UPDATE_HOST=http://127.0.0.1:9 -DVOREL_ANALYTICS_HOST=http://127.0.0.1:9)
configure_and_build native-asan -DVOREL_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug "${loopback[@]}" || status=1
configure_and_build native-tsan -DVOREL_SANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo "${loopback[@]}" || status=1
# The fuzz targets, briefly: a few seconds each from their seed corpora (tests/fuzz.sh runs longer).
CC=clang CXX=clang++ configure_and_build native-fuzz -DVOREL_SANITIZE=fuzzer -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "${loopback[@]}" || status=1
configure_and_build windows -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release "${loopback[@]}" || status=1

# The window tests need an X display: always a private Xvfb, so that test windows never land on
# the user's desktop; and one Wine server kept alive across the Windows test processes.
. "$root/scripts/x_display.sh"
unset DISPLAY
use_x_display || status=1
# The first program of a prefix can take long to start; let it do so outside ctest's clocks.
timeout 300 wine cmd /c exit >/dev/null 2>&1 || true
# Loopback tests must never go through a proxy from the environment.
unset http_proxy https_proxy ftp_proxy all_proxy HTTP_PROXY HTTPS_PROXY FTP_PROXY ALL_PROXY
export no_proxy=127.0.0.1,localhost NO_PROXY=127.0.0.1,localhost
# The local HTTP/FTP test servers, shared by all test sets (each test works in its own folder).
. "$root/tests/server/start-servers.sh"
trap 'stop_test_servers; wineserver -k 2>/dev/null || true; stop_x_display' EXIT
start_test_servers "$build/test-servers" || { echo "the test servers did not start"; exit 1; }

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
run_set native-asan
run_set native-tsan -LE "slow|reliability"
run_set windows -LE slow
run_set native-fuzz

echo
echo "=== summary"
for line in "${summary[@]}"; do echo "  $line"; done
echo "$total_passed passed, $total_failed failed"
if [ "$status" -ne 0 ] && [ "$total_failed" -eq 0 ]; then echo "a build or test set did not complete"; fi
exit "$status"
