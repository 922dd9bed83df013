#!/usr/bin/env bash
# Runs a Windows program under the project's private Wine prefix (ctest's emulator).
# Rarely (about once in twenty full test runs) a program ends within a moment with a failure code
# and not a line on its standard output, which none of ours does: each prints as it starts (the
# tests' "Running main()"). Wine did not start it, so it is started once more, and the output
# says so.
set -o pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/../scripts/env.sh"
export LANG=$VOREL_WINE_LANG LC_ALL=$VOREL_WINE_LANG
output=$(mktemp /tmp/vorel-wine-run.XXXXXX)
trap 'rm -f "$output"' EXIT
for attempt in 1 2; do
  started=$(date +%s%N)
  wine "$@" | tee "$output"
  status=$?
  elapsed_ms=$((($(date +%s%N) - started) / 1000000))
  if [ "$status" -eq 0 ] || [ -s "$output" ] || [ "$elapsed_ms" -ge 2000 ] || [ "$attempt" -eq 2 ]; then
    exit "$status"
  fi
  echo "wine-run: $1 ended with code $status after $elapsed_ms ms without any output; starting it once more"
done
