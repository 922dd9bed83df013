#!/usr/bin/env bash
# The main job: a demo game is published with vorel-publish, served by nginx on 127.0.0.1, and a
# fresh installation (the launcher and its configuration, as an installer leaves them) is brought
# up to date by the Windows launcher engine (vorel-update.exe) under Wine, which then starts the
# game. A second run finds nothing to download.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
bash "$here/setup.sh"
. "$here/env.sh"

port=${VOREL_DEMO_PORT:-18777}
demo="$root/build/demo"
jobs=$(nproc)
say() { printf '\n=== %s\n' "$*"; }

if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  echo "port $port is in use; set VOREL_DEMO_PORT to a free port" >&2
  exit 1
fi

say "building the Windows launcher engine (update server http://127.0.0.1:$port) and the release builder"
cmake -S "$root" -B "$root/build/demo-windows" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DVOREL_UPDATE_HOST="http://127.0.0.1:$port" >/dev/null
cmake --build "$root/build/demo-windows" -j "$jobs" --target vorel-update vorel-stub-game Dumper64 | grep -v '^\[' || true
cmake -S "$root" -B "$root/build/demo-native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build/demo-native" -j "$jobs" --target vorel-publish | grep -v '^\[' || true

say "publishing the demo game"
rm -rf "$demo"
mkdir -p "$demo/launcher"
/usr/bin/python3 "$root/tools/demo/make_game.py" "$demo/game" "$root/build/demo-windows/tools/vorel.exe"
cp "$root/build/demo-windows/tools/vorel-update.exe" "$demo/launcher/VORELLauncher.exe"
cp "$root/build/demo-windows/app/Dumper64.dll" "$demo/launcher/Dumper64.dll"
"$root/build/demo-native/tools/vorel-publish" --game "$demo/game" --launcher "$demo/launcher" --out "$demo/server" \
  --game-version 1.0.3 --launcher-version 4.1.2037 --mirror "http://127.0.0.1:$port/" --package-size-mb 8

say "serving $demo/server with nginx on 127.0.0.1:$port"
. "$here/nginx.sh"
start_nginx "$demo/nginx" "$demo/server" "$port"
trap 'stop_nginx "$demo/nginx"; wineserver -k 2>/dev/null || true' EXIT

install="$demo/install"
mkdir -p "$install/Config"
cp "$demo/launcher/VORELLauncher.exe" "$demo/launcher/Dumper64.dll" "$install/"
cp "$demo/server/production/vorel_pql_win/Launcher/launcherconfig.txt" "$install/Config/"

# Runs the launcher engine, which starts the game when the update is done; waits for the game
# (a stand-in that records how it was started) to have written its record.
run_launcher() {
  rm -f "$install/Game/vorel_win/launched.txt"
  (cd "$install" && LANG=$VOREL_WINE_LANG LC_ALL=$VOREL_WINE_LANG wine ./VORELLauncher.exe --start-game)
  for _ in $(seq 100); do
    [ -s "$install/Game/vorel_win/launched.txt" ] && break
    sleep 0.1
  done
  echo "game started: $(tr '\n' ' ' <"$install/Game/vorel_win/launched.txt" 2>/dev/null)"
}

say "first run: a fresh installation is brought up to date under Wine"
run_launcher
log="$install/Log/$(date +%Y%m%d).txt"

say "second run: nothing to download"
run_launcher
grep -a "Check local game files" "$log" | tail -n 1 | tr -d '\r'

say "result"
echo "  installation: $install"
echo "  log:          $log"
echo "  game tree:    $install/Game/vorel_win"
/usr/bin/python3 "$root/tools/demo/verify_tree.py" "$install/Game/vorel_win" \
  "$demo/server/production/vorel_pql_win/Game/1.0.3/filelist.txt"
