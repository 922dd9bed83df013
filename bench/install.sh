#!/usr/bin/env bash
# install: a full zip install of a generated ~2 GiB game in 8 packages from a local nginx, by
# the native vorel-update, against `aria2c -j2` fetching the same 8 packages plus `unzip`
# extracting them, in the same run. Reports wall time and peak resident memory of both. The
# release is published signed: the engine runs both without a key (the manifest is ignored, the
# update is the unsigned one) and with the public key (manifest, signature and SHA-256 of every
# package checked), which gives the cost of signed releases.
#   usage: bench/install.sh BUILD_DIR PORT   (BUILD_DIR configured with VOREL_UPDATE_HOST=http://127.0.0.1:PORT)
set -euo pipefail
build=$1
port=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
data=${BENCH_DATA:-$root/build/bench-data}/install
reps=${BENCH_REPS:-2}
bin=$build/bench
util=$bin/vorel-bench-util
export BENCH_DATA=${BENCH_DATA:-$root/build/bench-data}

if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  echo "install: port $port is in use" >&2
  exit 1
fi
for tool in nginx aria2c unzip rhash /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "install: $tool is missing (run scripts/setup.sh)" >&2; exit 1; }
done

rm -rf "$data" && "$util" removed
mkdir -p "$data/launcher"
echo "install: generating the game ..."
read -r _ size_mb _ planned _ files _ game_bytes < <("$bin/vorel-bench-make-game" "$data/game")
cp "$build/tools/vorel-update" "$data/launcher/VORELLauncher.exe"
"$build/tools/vorel-publish" --make-keys "$data/keys" >/dev/null
public_key=$(cat "$data/keys/release.pub")
echo "install: publishing it signed ($files files, $game_bytes bytes, packages of $size_mb MiB) ..."
"$build/tools/vorel-publish" --game "$data/game" --launcher "$data/launcher" --out "$data/server" \
  --game-version 1.0.3 --launcher-version 4.1.2037 --mirror "http://127.0.0.1:$port/" \
  --package-size-mb "$size_mb" --sign-key "$data/keys/release.key" >"$data/publish.log"
rm -rf "$data/game"
game_url="http://127.0.0.1:$port/production/vorel_pql_win/Game/1.0.3"
server_game="$data/server/production/vorel_pql_win/Game/1.0.3"
cut -d= -f1 "$server_game/ziplist.txt" | sed "s|^|$game_url/zip/|" >"$data/urls.txt"
packages=$(wc -l <"$data/urls.txt")
package_bytes=$(du -cb --apparent-size "$server_game"/zip/*.zip | tail -n 1 | cut -f1)
[ "$packages" -eq "$planned" ] || echo "install: note: $packages packages, $planned planned"

. "$root/scripts/nginx.sh"
start_nginx "$data/nginx" "$data/server" "$port"
trap 'stop_nginx "$data/nginx"' EXIT
cat "$server_game"/zip/*.zip >/dev/null  # the server's files in the page cache
"$util" settle

kib() { sed -n 's/.*Maximum resident set size (kbytes): //p' "$1"; }
now() { echo "$EPOCHREALTIME"; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

engine_times=() engine_rss=() ref_times=() ref_fetch=() ref_unzip=() ref_rss=() ref_check=() signed_times=()
run_engine() {
  local i=$1 inst="$data/engine-$1" key=()
  if [ "${2:-}" = signed ]; then
    i=signed-$1 inst="$data/engine-signed-$1" key=(--release-key "$public_key")
  fi
  mkdir -p "$inst/Config"
  cp "$build/tools/vorel-update" "$inst/"
  cp "$data/server/production/vorel_pql_win/Launcher/launcherconfig.txt" "$inst/Config/"
  "$util" quiesce
  local t0 t1
  t0=$(now)
  # Each progress line gets a time stamp, for the phase breakdown.
  (cd "$inst" && /usr/bin/time -v -o "$data/engine-$i.time" ./vorel-update "${key[@]}") |
    while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done >"$data/engine-$i.out"
  t1=$(now)
  if ! grep -q "update finished" "$data/engine-$i.out"; then
    echo "install: the update failed" >&2
    tail "$data/engine-$i.out" >&2
    exit 1
  fi
  local got
  got=$(du -sb --apparent-size "$inst/Game/vorel_win" | cut -f1)
  # du counts folders too: the files alone must add up to the game.
  [ "$(find "$inst/Game/vorel_win" -type f | wc -l)" -eq "$files" ] && [ "$got" -ge "$game_bytes" ] ||
    { echo "install: the installed tree differs from the game" >&2; exit 1; }
  if [ "${2:-}" = signed ]; then
    grep -q "Release manifest accepted" "$inst"/Log/*.txt 2>/dev/null ||
      { echo "install: the signed run did not check the manifest" >&2; exit 1; }
    signed_times+=("$(elapsed "$t0" "$t1")")
  else
    engine_times+=("$(elapsed "$t0" "$t1")")
  fi
  engine_rss+=("$(kib "$data/engine-$i.time")")
  rm -rf "$inst" && "$util" removed
  awk -v t0="$t0" -v t1="$t1" '
    / stage 8 / && !d { d = $1 }
    / stage 1 / && d && !v { v = $1 }
    / stage 9 / && !u { u = $1 }
    / stage 6 / && u && !c { c = $1 }
    END {
      printf "    phases: setup %.1f s, download %.1f s, package CRC check %.1f s, extraction %.1f s,", d - t0, v - d, u - v, c - u
      printf " file check + move + clean-up %.1f s\n", t1 - c
    }' "$data/engine-$i.out"
}
run_reference() {
  local i=$1 ref="$data/reference-$i"
  mkdir -p "$ref/zip" "$ref/out"
  "$util" quiesce
  local t0 t1 t2 t3 rss k
  t0=$(now)
  /usr/bin/time -v -o "$data/aria2c-$i.time" aria2c -q -j2 -x1 --allow-overwrite=true --auto-file-renaming=false \
    -d "$ref/zip" -i "$data/urls.txt"
  t1=$(now)
  rss=$(kib "$data/aria2c-$i.time")
  k=0
  for zip in "$ref"/zip/*.zip; do
    k=$((k + 1))
    /usr/bin/time -v -o "$data/unzip-$i-$k.time" unzip -o -q "$zip" -d "$ref/out"
    local r
    r=$(kib "$data/unzip-$i-$k.time")
    [ "$r" -gt "$rss" ] && rss=$r
  done
  t2=$(now)
  # Not part of the reference: the checks the engine does beyond fetching and extracting.
  rhash --crc32 -r "$ref/zip" "$ref/out" >/dev/null
  t3=$(now)
  [ "$k" -eq "$packages" ] || { echo "install: aria2c fetched $k of $packages packages" >&2; exit 1; }
  ref_fetch+=("$(elapsed "$t0" "$t1")")
  ref_unzip+=("$(elapsed "$t1" "$t2")")
  ref_times+=("$(elapsed "$t0" "$t2")")
  ref_check+=("$(elapsed "$t2" "$t3")")
  ref_rss+=("$rss")
}

for ((i = 0; i < reps; i++)); do
  # The order turns over four runs, so that no run always meets another's leftovers (the
  # reference's extraction leaves the most pages to write back).
  case $((i % 4)) in
    0) run_engine "$i"; run_engine "$i" signed; run_reference "$i" ;;
    1) run_reference "$i"; run_engine "$i" signed; run_engine "$i" ;;
    2) run_engine "$i" signed; run_engine "$i"; run_reference "$i" ;;
    3) run_reference "$i"; run_engine "$i"; run_engine "$i" signed ;;
  esac
done

median() {
  printf '%s\n' "$@" | sort -g |
    awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
maximum() { printf '%s\n' "$@" | sort -g | tail -n 1; }
e=$(median "${engine_times[@]}")
s=$(median "${signed_times[@]}")
r=$(median "${ref_times[@]}")
f=$(median "${ref_fetch[@]}")
u=$(median "${ref_unzip[@]}")
c=$(median "${ref_check[@]}")
erss=$(maximum "${engine_rss[@]}")
rrss=$(maximum "${ref_rss[@]}")
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
mb() { awk -v b="$1" 'BEGIN { printf "%.0f", b / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
rc=$(awk -v a="$r" -v b="$c" 'BEGIN { printf "%.3f", a + b }')  # the reference with the CRC checks
runs_rss=$(for k in "${engine_rss[@]}"; do mib "$k"; printf ' '; done)
load=$(cut -d' ' -f1-3 /proc/loadavg)
echo "install: $files files, $(mb "$game_bytes") MB in $packages packages ($(mb "$package_bytes") MB to download)," \
  "$reps runs each (median); load $load"
echo "  vorel-update (engine)            $e s  [${engine_times[*]}]  peak RSS $(mib "$erss") MiB [${runs_rss% }]"
echo "  vorel-update, signed release      $s s  [${signed_times[*]}]  ($(ratio "$s" "$e") x the unsigned update)"
echo "  aria2c -j2 + unzip (reference)   $r s  [${ref_times[*]}]  (fetch $f s + unzip $u s)" \
  " peak RSS $(mib "$rrss") MiB"
echo "  reference + rhash CRC-32 of the packages and the files: $rc s"
echo "  time ratio engine / reference: $(ratio "$e" "$r"); against the reference with CRC checks: $(ratio "$e" "$rc")"
met=met
awk -v k="$erss" 'BEGIN { exit !(k < 65536) }' || met=MISSED
printf 'SUMMARY\tinstall\tpeak RSS of vorel-update, ~2 GiB in %s packages (MiB)\t%s\t%s\t-\t< 64 MiB\t%s\n' \
  "$packages" "$(mib "$erss")" "$(mib "$rrss") (aria2c/unzip)" "$met"
printf 'SUMMARY\tinstall\twall time vs aria2c -j2 + unzip (s)\t%s\t%s\t%s\t<= 0.50\t%s\n' "$e" "$r" "$(ratio "$e" "$r")" \
  "$(awk -v a="$e" -v b="$r" 'BEGIN { print (a <= 0.50 * b) ? "met" : "MISSED" }')"
printf 'SUMMARY\tinstall\tsigned release vs unsigned, same server (s)\t%s\t%s\t%s\t<= 1.10\t%s\n' "$s" "$e" \
  "$(ratio "$s" "$e")" "$(awk -v a="$s" -v b="$e" 'BEGIN { print (a <= 1.10 * b) ? "met" : "MISSED" }')"
printf 'SUMMARY\tinstall\twall time vs aria2c + unzip + rhash checks (s)\t%s\t%s\t%s\t-\t(info)\n' "$e" "$rc" \
  "$(ratio "$e" "$rc")"

stop_nginx "$data/nginx"
trap - EXIT
if [ "${BENCH_KEEP:-0}" = 0 ]; then
  rm -rf "$data" && "$util" removed
fi
