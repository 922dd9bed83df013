#!/usr/bin/env bash
# Builds the benchmarks (native Release, build/bench) and runs all of them or the named ones,
# then prints a summary table. Nothing is written into the repository unless --update-results
# is given, which rewrites the generated part of bench/RESULTS.md with this run's figures.
#   usage: bench/run.sh [--update-results] [crc] [sha] [check] [parse] [unzip] [tree] [tree-tmpfs] [install]
#                       [download] [resume] [kill-resume] [display] [draw] [window] [patch]
#   BENCH_REPS=N     repetitions of each timed step (default: per benchmark)
#   BENCH_DATA=DIR   generated data (default build/bench-data; cleaned up after each benchmark)
#   BENCH_KEEP=1     leave the generated data in place
#   VOREL_BENCH_PORT the loopback port of the install and download benchmarks' server (default 18791)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
all=(crc sha check parse unzip tree tree-tmpfs install download resume kill-resume display draw window patch)
update=0
names=()
for arg in "$@"; do
  case "$arg" in
    --update-results) update=1 ;;
    crc | sha | check | parse | unzip | tree | tree-tmpfs | install | download | resume | kill-resume | display | draw \
      | window | patch) names+=("$arg") ;;
    -h | --help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run.sh: unknown benchmark $arg (known: ${all[*]})" >&2; exit 2 ;;
  esac
done
[ ${#names[@]} -gt 0 ] || names=("${all[@]}")

port=${VOREL_BENCH_PORT:-18791}
build=$root/build/bench
logs=$build/logs
export BENCH_DATA=${BENCH_DATA:-$root/build/bench-data}

# --- tools: the project's set-up installs the build's packages and the reference tools ---------
bash "$root/scripts/setup.sh"

# --- build ---------------------------------------------------------------------------------------
echo "run.sh: building $build (Release, update server http://127.0.0.1:$port)"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DVOREL_UPDATE_HOST="http://127.0.0.1:$port" >/dev/null
cmake --build "$build" -j "$(nproc)" | grep -Ev '^\[[0-9]+/[0-9]+\] ' || true
mkdir -p "$logs" "$BENCH_DATA"

# --- run -----------------------------------------------------------------------------------------
run_one() {
  case "$1" in
    tree-tmpfs)
      # The same copy and delete on tmpfs: the code's own cost, without the disk's file system.
      local shm=/dev/shm/vorel-bench-$$
      BENCH_DATA=$shm BENCH_LABEL=tmpfs "$build/bench/vorel-bench-tree"
      rm -rf "$shm"
      ;;
    install) bash "$here/install.sh" "$build" "$port" ;;
    download) bash "$here/download.sh" "$build" "$port" ;;
    resume) bash "$here/resume.sh" "$build" ;;
    patch) bash "$here/patch.sh" "$build" ;;
    kill-resume)
      # Loopback transfers must never go through a proxy from the environment.
      NO_PROXY=127.0.0.1 no_proxy=127.0.0.1 /usr/bin/python3 "$here/kill_resume.py" --runner "$build/tools/vorel-update" \
        --publisher "$build/tools/vorel-publish" --work "$BENCH_DATA/kill-resume"
      ;;
    window) bash "$here/window.sh" "$build" "$port" ;;
    draw)
      # The Windows build's frame drawing, under Wine.
      . "$root/scripts/env.sh"
      local wbuild=$root/build/bench-windows
      cmake -S "$root" -B "$wbuild" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
      cmake --build "$wbuild" -j "$(nproc)" --target vorel-bench-draw | grep -Ev '^\[[0-9]+/[0-9]+\] ' || true
      bash "$root/tests/wine-run.sh" "$wbuild/bench/vorel-bench-draw.exe"
      ;;
    *) "$build/bench/vorel-bench-$1" ;;
  esac
}
# A benchmark that fails (the patch benchmark also fails when it misses a target) stops the run;
# the summary of what ran is still printed.
failed=""
ran=()
for name in "${names[@]}"; do
  echo
  echo "=== $name"
  set +e
  run_one "$name" 2>&1 | tee "$logs/$name.log" | grep -v '^SUMMARY'
  status=${PIPESTATUS[0]}
  set -e
  ran+=("$name")
  [ "$status" -eq 0 ] || { failed=$name; break; }
done
names=("${ran[@]}")

# --- summary -------------------------------------------------------------------------------------
table() {
  echo "| benchmark | measure | ours | reference | ratio | target | verdict |"
  echo "| --- | --- | ---: | ---: | ---: | --- | --- |"
  for name in "${names[@]}"; do
    grep '^SUMMARY' "$logs/$name.log" | cut -f2- |
      awk -F'\t' '{ printf "| %s | %s | %s | %s | %s | %s | %s |\n", $1, $2, $3, $4, $5, $6, $7 }'
  done
}
echo
echo "=== summary"
table
if [ -n "$failed" ]; then
  echo "run.sh: $failed failed" >&2
  exit 1
fi

if [ "$update" = 1 ]; then
  results=$here/RESULTS.md
  generated=$(mktemp)
  {
    echo "<!-- results:begin (written by bench/run.sh --update-results) -->"
    echo "Run of $(date -u '+%Y-%m-%d %H:%M UTC'): \`bench/run.sh ${names[*]}\`, BENCH_REPS=${BENCH_REPS:-default}."
    echo
    cpu=$(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n 1)
    fs=$(df -T "$BENCH_DATA" | awk 'NR == 2 { print $2 }')
    options=$(findmnt -no OPTIONS -T "$BENCH_DATA" | cut -c1-60)
    echo "Machine: $(nproc) cores ($cpu), $(free -g | awk '/^Mem:/ { print $2 }') GiB RAM, kernel $(uname -r)," \
      "data on $fs ($options...). Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)."
    echo
    echo "Tools: $(dpkg-query -W -f='zlib ${Version}' zlib1g), minizip of zlib $(dpkg-query -W -f='${Version}' zlib1g-dev) (built by the set-up)," \
      "$(unzip -v | head -n 1 | cut -d' ' -f1-2), $(rhash --version), $(aria2c --version | head -n 1)," \
      "$(curl --version | head -n 1 | cut -d' ' -f1-2)," \
      "$(nginx -v 2>&1 | sed 's/.*: //'), $(cp --version | head -n 1)."
    echo
    table
    echo
    echo "Full output of each benchmark:"
    for name in "${names[@]}"; do
      echo
      echo '```'
      echo "== $name"
      grep -v '^SUMMARY' "$logs/$name.log"
      echo '```'
    done
    echo "<!-- results:end -->"
  } >"$generated"
  if [ -f "$results" ] && grep -q '^<!-- results:begin' "$results"; then
    # Only the generated part changes; the notes around it stay.
    awk -v file="$generated" '
      /^<!-- results:begin/ { while ((getline line < file) > 0) print line; skip = 1; next }
      /^<!-- results:end/ { skip = 0; next }
      !skip' "$results" >"$results.new"
    mv "$results.new" "$results"
  else
    { echo "# Benchmark results"; echo; cat "$generated"; } >"$results"
  fi
  rm -f "$generated"
  echo
  echo "run.sh: wrote $results"
fi
