#!/usr/bin/env bash
# The main job: a demo game is published with vorel-publish and served by nginx on 127.0.0.1, and
# the real launcher, VORELLauncher.exe, runs under Wine in a fresh installation (the launcher and
# its configuration, as an installer leaves them): its window updates the game, starts it and
# exits. The window shows on the user's display when there is one, otherwise on a private Xvfb;
# screenshots of it are saved while it downloads, while it checks and at the end. A local
# collector receives the launcher's usage events. A second run finds nothing to download. The
# release is signed and the launcher is built with its public key, as a studio ships it.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
bash "$here/setup.sh"
. "$here/env.sh"

port=${VOREL_DEMO_PORT:-18777}
collector_port=$((port + 1))
demo="$root/build/demo"
shots="$demo/screenshots"
jobs=$(nproc)
say() { printf '\n=== %s\n' "$*"; }

for p in "$port" "$collector_port"; do
  if (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
    echo "port $p is in use; set VOREL_DEMO_PORT to a free port (it and the next one are used)" >&2
    exit 1
  fi
done

say "building the release builder and the demo's signing keys"
cmake -S "$root" -B "$root/build/demo-native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build/demo-native" -j "$jobs" --target vorel-publish | grep -v '^\[' || true
keys="$root/build/demo-keys"  # kept between runs: the launcher is built with this public key
[ -f "$keys/release.pub" ] || "$root/build/demo-native/tools/vorel-publish" --make-keys "$keys"
public_key=$(cat "$keys/release.pub")

say "building VORELLauncher.exe (update server http://127.0.0.1:$port, usage collector http://127.0.0.1:$collector_port, release key $public_key)"
cmake -S "$root" -B "$root/build/demo-windows" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DVOREL_UPDATE_HOST="http://127.0.0.1:$port" \
  -DVOREL_ANALYTICS_HOST="http://127.0.0.1:$collector_port" -DVOREL_RELEASE_PUBLIC_KEY="$public_key" >/dev/null
cmake --build "$root/build/demo-windows" -j "$jobs" --target VORELLauncher vorel-stub-game Dumper64 | grep -v '^\[' || true

say "publishing the demo game, signed"
rm -rf "$demo"
mkdir -p "$demo/launcher" "$shots" "$demo/collector"
/usr/bin/python3 "$root/tools/demo/make_game.py" "$demo/game" "$root/build/demo-windows/tests/vorel.exe"
cp "$root/build/demo-windows/app/VORELLauncher.exe" "$root/build/demo-windows/app/Dumper64.dll" "$demo/launcher/"
"$root/build/demo-native/tools/vorel-publish" --game "$demo/game" --launcher "$demo/launcher" --out "$demo/server" \
  --game-version 1.0.3 --launcher-version 4.1.2037 --mirror "http://127.0.0.1:$port/" --package-size-mb 8 \
  --sign-key "$keys/release.key"

# 3 MB/s per connection, so that a person can watch the download.
say "serving $demo/server with nginx on 127.0.0.1:$port (3 MB/s per connection)"
. "$here/nginx.sh"
. "$here/x_display.sh"
cleanup() {
  stop_nginx "$demo/nginx"
  [ -n "${collector_pid:-}" ] && kill "$collector_pid" 2>/dev/null
  wineserver -k 2>/dev/null || true
  stop_x_display
}
trap cleanup EXIT
start_nginx "$demo/nginx" "$demo/server" "$port" 3m
collector=$(/usr/bin/python3 "$root/tests/server/vorel_test_server.py" --docroot "$demo/collector" \
  --http-port "$collector_port" --log "$demo/collector.log" --parent-pid $$ </dev/null)
collector_pid=${collector##*pid=}
use_x_display

say "building VORELSetup.exe and installing it silently into a fresh folder"
bash "$here/make_setup.sh" --build "$root/build/demo-windows" --release "$demo/server" --out "$demo/VORELSetup.exe"
install="$demo/install"
# (No menu entries on this machine for the setup's shortcuts.)
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d" wine "$demo/VORELSetup.exe" /S "/D=Z:${install//\//\\}"
[ -f "$install/VORELLauncher.exe" ] || { echo "the setup did not install the launcher" >&2; exit 1; }
echo "  installed: $(cd "$install" && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ')"
log="$install/Log/$(date +%Y%m%d).txt"
title="Lac Phong Ky MAX"

# Runs the launcher and follows it: new log lines as they come, and screenshots of its window
# while it downloads, while it checks the game files and at the end (RUN-*.png), until it exits;
# then waits for the game's record.
run_launcher() {  # run name
  local run=$1 lines=0 pid status last shot_download= shot_check=
  [ -f "$log" ] && lines=$(wc -l <"$log")
  rm -f "$install/Game/vorel_win/launched.txt" "$shots/$run-end.xwd"
  (cd "$install" && LANG=$VOREL_WINE_LANG LC_ALL=$VOREL_WINE_LANG exec wine ./VORELLauncher.exe) 2>"$demo/wine-$run.log" &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    if [ -f "$log" ]; then
      local now
      now=$(wc -l <"$log")
      if [ "$now" -gt "$lines" ]; then
        last=$(tail -n +"$((lines + 1))" "$log" | head -n "$((now - lines))" | tr -d '\r')
        sed 's/^/  log: /' <<<"$last"
        lines=$now
        # The packages are on their way; the game files are being checked (after the packages
        # were unpacked, or right after the versions were compared).
        if [ -z "$shot_download" ] && grep -q "Zip download total files\|Increment update process" <<<"$last"; then
          sleep 1.5
          window_shot "$title" "$shots/$run-download.png" && shot_download=1 && echo "  screenshot: $shots/$run-download.png"
        fi
        if [ -z "$shot_check" ] && tail -n 1 <<<"$last" | grep -q "Zip update finish\|Latest game version"; then
          window_shot "$title" "$shots/$run-check.png" && shot_check=1 && echo "  screenshot: $shots/$run-check.png"
        fi
      fi
    fi
    window_xwd "$title" "$shots/$run-end.xwd" || true
    sleep 0.1
  done
  wait "$pid" && status=0 || status=$?
  rm -f "$shots/$run-end.xwd.part"  # a capture cut short when the window closed
  tail -n +"$((lines + 1))" "$log" | tr -d '\r' | sed 's/^/  log: /'
  if [ -f "$shots/$run-end.xwd" ]; then
    /usr/bin/convert "xwd:$shots/$run-end.xwd" "png:$shots/$run-end.png" && rm -f "$shots/$run-end.xwd"
    echo "  screenshot (the last frame before the window closed): $shots/$run-end.png"
  fi
  echo "  launcher exit code: $status"
  for _ in $(seq 100); do
    [ -s "$install/Game/vorel_win/launched.txt" ] && break
    sleep 0.1
  done
  echo "  game started: $(tr '\n' ' ' <"$install/Game/vorel_win/launched.txt" 2>/dev/null)"
  [ "$status" -eq 0 ]
}

say "first run: the launcher's window brings a fresh installation up to date"
run_launcher first

say "second run: nothing to download"
run_launcher second
grep -a "Check local game files" "$log" | tail -n 1 | tr -d '\r'

say "usage events the collector received"
for f in "$demo"/collector/bisdk/batchpush.post*; do
  [ -f "$f" ] || continue
  echo "  $(head -n 1 "$f" | tr -d '\r')"
  echo "    $(tail -n 1 "$f")"
done
ls "$demo"/collector/bisdk/batchpush.post* >/dev/null 2>&1 || echo "  none (the machine has no wired network adapter with an address, so the launcher sends none)"

say "result"
echo "  installation: $install"
echo "  log:          $log"
echo "  screenshots:  $shots"
echo "  game tree:    $install/Game/vorel_win"
/usr/bin/python3 "$root/tools/demo/verify_tree.py" "$install/Game/vorel_win" \
  "$demo/server/production/vorel_pql_win/Game/1.0.3/filelist.txt"
