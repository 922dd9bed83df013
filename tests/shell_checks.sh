# Shared by the shell tests (sourced): check DESCRIPTION COMMAND... counts a passed or a failed
# check, fails negates a command, wait_until retries one for up to 30 s, and checks_summary prints
# the one line and returns the outcome.
passed=0 failed=0
check() {
  local what=$1
  shift
  if "$@" >/dev/null 2>&1; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $what"; fi
}
fails() { ! "$@"; }
wait_until() { for _ in $(seq 300); do "$@" && return 0; sleep 0.1; done; return 1; }
checks_summary() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
