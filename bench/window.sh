#!/usr/bin/env bash
# window: the real VORELLauncher.exe under Wine on a private Xvfb display.
#   1. a fresh installation of the demo game updated from a local nginx: the time from process
#      start to the update thread's log and to the first painted frame, and the launcher's peak
#      resident memory (VmHWM of its Wine process) during the update;
#   2. the idle window (the update failed, nothing changes): CPU time of the launcher's process
#      and of the Wine server over 30 s (BENCH_IDLE_SECONDS).
#   usage: bench/window.sh NATIVE_BUILD_DIR PORT
set -euo pipefail
build=$1
port=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
data=${BENCH_DATA:-$root/build/bench-data}/window
idle=${BENCH_IDLE_SECONDS:-30}
wbuild=$root/build/bench-windows-$port
. "$root/scripts/env.sh"

cmake -S "$root" -B "$wbuild" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DVOREL_UPDATE_HOST="http://127.0.0.1:$port" \
  -DVOREL_ANALYTICS_HOST="http://127.0.0.1:9" >/dev/null
cmake --build "$wbuild" -j "$(nproc)" --target VORELLauncher vorel-stub-game vorel-bench-window |
  grep -Ev '^\[[0-9]+/[0-9]+\] ' || true

rm -rf "$data"
mkdir -p "$data/launcher"
/usr/bin/python3 "$root/tools/demo/make_game.py" "$data/game" "$wbuild/tests/vorel.exe"
cp "$wbuild/app/VORELLauncher.exe" "$data/launcher/"
"$build/tools/vorel-publish" --game "$data/game" --launcher "$data/launcher" --out "$data/server" \
  --game-version 1.0.3 --launcher-version 4.1.2037 --mirror "http://127.0.0.1:$port/" --package-size-mb 8 \
  >"$data/publish.log"
game_bytes=$(du -sb --apparent-size "$data/game" | cut -f1)

. "$root/scripts/nginx.sh"
. "$root/scripts/x_display.sh"
cleanup() {
  stop_nginx "$data/nginx"
  wineserver -k 2>/dev/null || true
  stop_x_display
  rm -rf "$data"
}
trap cleanup EXIT
start_nginx "$data/nginx" "$data/server" "$port"
unset DISPLAY
use_x_display >/dev/null
timeout 300 wine cmd /c exit >/dev/null 2>&1 || true

install_fresh() {  # folder
  mkdir -p "$1/Config"
  cp "$wbuild/app/VORELLauncher.exe" "$1/"
  cp "$data/server/production/vorel_pql_win/Launcher/launcherconfig.txt" "$1/Config/"
}
launcher_pid() {  # folder: the Linux pid of the Wine process running the launcher there
  local pid
  for _ in $(seq 100); do
    pid=$(pgrep -f "$(basename "$1")[/\\\\]VORELLauncher.exe" | head -n 1 || true)
    [ -n "$pid" ] && { echo "$pid"; return 0; }
    sleep 0.05
  done
  return 1
}
# CPU time (user + system) in clock ticks, threads that have ended included.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }

# 1. The update.
install_fresh "$data/install"
start=$(date +%s.%N)
wine "$wbuild/bench/vorel-bench-window.exe" "$(winepath -w "$data/install")" >"$data/first.txt" 2>/dev/null &
bench_pid=$!
pid=$(launcher_pid "$data/install")
peak=0
while kill -0 "$pid" 2>/dev/null; do
  hwm=$(awk '/^VmHWM/ { print $2 }' "/proc/$pid/status" 2>/dev/null || echo 0)
  [ "${hwm:-0}" -gt "$peak" ] && peak=$hwm
  sleep 0.1
done
seconds=$(echo "$(date +%s.%N) - $start" | bc)
wait "$bench_pid" || true
read -r _ log_ms frame_ms < <(grep '^RESULT' "$data/first.txt")
[ -s "$data/install/Game/vorel_win/launched.txt" ] || sleep 2
game_started=$([ -s "$data/install/Game/vorel_win/launched.txt" ] && echo yes || echo no)
peak_mib=$(echo "scale=1; $peak / 1024" | bc)
printf 'update of a fresh installation (%s MB game): %.1f s, game started: %s\n' "$((game_bytes / 1000000))" "$seconds" "$game_started"
echo "  update thread's log after $log_ms ms, first painted frame after $frame_ms ms (from process start)"
echo "  peak resident memory of the launcher's process: $peak_mib MiB"

# 2. The idle window after a failed update: nothing listens on the update addresses any more.
stop_nginx "$data/nginx"
mkdir -p "$data/idle/Config"
cp "$wbuild/app/VORELLauncher.exe" "$data/idle/"
printf 'launcherVersion=4.1.2037\r\nremoteURLs=http://127.0.0.1:9/\r\n' >"$data/idle/Config/launcherconfig.txt"
wine "$wbuild/bench/vorel-bench-window.exe" "$(winepath -w "$data/idle")" >/dev/null 2>&1 || true
pid=$(launcher_pid "$data/idle")
server=$(pgrep -x wineserver64 || pgrep -x wineserver || true)
server=${server%%$'\n'*}
sleep 3  # the failure is shown, the window idles
hz=$(getconf CLK_TCK)
l0=$(cpu_ticks "$pid"); s0=$(cpu_ticks "$server")
sleep "$idle"
l1=$(cpu_ticks "$pid"); s1=$(cpu_ticks "$server")
kill -0 "$pid" 2>/dev/null || { echo "window: the idle launcher ended during the measurement" >&2; exit 1; }
kill "$pid" 2>/dev/null || true
launcher_pct=$(echo "scale=3; 100 * ($l1 - $l0) / $hz / $idle" | bc)
server_pct=$(echo "scale=3; 100 * ($s1 - $s0) / $hz / $idle" | bc)
echo "idle window over $idle s: launcher $launcher_pct % of one core ($((l1 - l0)) ticks of 1/$hz s), Wine server $server_pct %"

printf 'SUMMARY\twindow\tfirst painted frame after process start (ms)\t%s\t-\t-\tinformation\t-\n' "$frame_ms"
printf 'SUMMARY\twindow\tpeak resident memory during the update (MiB)\t%s\t64\t%s\t< 64 MiB\t%s\n' "$peak_mib" \
  "$(echo "scale=2; $peak_mib / 64" | bc)" "$([ "${peak%.*}" -lt 65536 ] && echo met || echo missed)"
printf 'SUMMARY\twindow\tidle window CPU, %% of one core over %s s\t%s\t1\t%s\t< 1 %%\t%s\n' "$idle" "$launcher_pct" \
  "$(echo "scale=2; $launcher_pct / 1" | bc)" "$(echo "$launcher_pct < 1" | bc | sed 's/1/met/; s/0/missed/')"
