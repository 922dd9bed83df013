#!/usr/bin/env bash
# patch: binary patch updates. For four workloads (bench/patch_gen.cpp) it builds the patch from
# the old to the new file with vorel-patch and with the reference tools in the same run (xdelta3,
# zstd --patch-from, and bsdiff where its memory and time allow), applies each, checks that the
# result is the new file byte for byte, and reports the bytes sent, the time and peak resident
# memory of building and of applying. Every case's targets are asserted: the script exits 1 when
# one is missed (after printing all figures).
#   (a) a 1 GiB archive with 20 scattered 64 KiB overwrites
#   (b) the same archive with 50 MiB inserted in the middle
#   (c) a 200 MiB executable-like file rebuilt with small code changes (addresses shift)
#   (d) a 2 GiB game of 300 files of which 5 % changed with small edits, patched file by file
#   usage: bench/patch.sh BUILD_DIR
#   BENCH_PATCH_CASES="a b c d"  the cases to run (default all)
#   BENCH_PATCH_SCALE=N          divides every size by N, for a quick trial (the targets stay)
set -euo pipefail
build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
export BENCH_DATA=${BENCH_DATA:-$root/build/bench-data}
data=$BENCH_DATA/patch
gen=$build/bench/vorel-bench-patch-gen
util=$build/bench/vorel-bench-util
ours=$build/tools/vorel-patch
cases=${BENCH_PATCH_CASES:-a b c d}
scale=${BENCH_PATCH_SCALE:-1}

for tool in xdelta3 zstd bsdiff bspatch cmp /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "patch: $tool is missing (run scripts/setup.sh)" >&2; exit 1; }
done
[ -x "$ours" ] || { echo "patch: $ours is missing (native build only)" >&2; exit 1; }
rm -rf "$data"
mkdir -p "$data"
trap '[ "${BENCH_KEEP:-0}" = 1 ] || rm -rf "$data"' EXIT

now() { echo "$EPOCHREALTIME"; }
calc() { awk "BEGIN { $1 }"; }
mib() { calc "printf \"%.1f\", $1 / 1024"; }
size_of() { stat -c %s "$1"; }
tools_line="$(xdelta3 -V 2>&1 | head -n 1 | sed 's/, Copyright.*//'), $(zstd -V | sed 's/^\*\*\* //; s/, by.*//'), bsdiff $(dpkg-query -W -f='${Version}' bsdiff)"

# measure NAME COMMAND...: runs it with its output in $data/NAME.out; wall time (s) into T, peak
# RSS (KiB) into K. A failing command ends the benchmark.
measure() {
  local name=$1
  shift
  local t0
  t0=$(now)
  if ! /usr/bin/time -f %M -o "$data/$name.rss" "$@" >"$data/$name.out" 2>&1; then
    echo "patch: $name failed: $*" >&2
    cat "$data/$name.out" >&2
    exit 1
  fi
  T=$(calc "printf \"%.3f\", $(now) - $t0")
  K=$(tail -n 1 "$data/$name.rss")
}

# make/apply TOOL OLD NEW PATCH RESULT: the tool's two commands. xdelta3 is given a source window
# as large as the old file (at most 2 GiB) so that it sees the whole base, as the others do.
make_cmd() {
  local tool=$1 old=$2 new=$3 out=$4
  case "$tool" in
    ours) echo "$ours" make "$old" "$new" "$out" ;;
    xdelta3) echo xdelta3 -9 -e -f -B "$(xdelta_window "$old")" -s "$old" "$new" "$out" ;;
    zstd) echo zstd -q -f -19 --long=31 --patch-from="$old" "$new" -o "$out" ;;
    bsdiff) echo bsdiff "$old" "$new" "$out" ;;
  esac
}
apply_cmd() {
  local tool=$1 old=$2 in=$3 out=$4
  case "$tool" in
    ours) echo "$ours" apply "$old" "$in" "$out" ;;
    xdelta3) echo xdelta3 -d -f -B "$(xdelta_window "$old")" -s "$old" "$in" "$out" ;;
    zstd) echo zstd -q -f -d --long=31 --patch-from="$old" "$in" -o "$out" ;;
    bsdiff) echo bspatch "$old" "$out" "$in" ;;
  esac
}
xdelta_window() {
  local s
  s=$(size_of "$1")
  calc "w = $s < 1048576 ? 1048576 : $s; if (w > 2147483648) w = 2147483648; printf \"%d\", w"
}
label() {
  case "$1" in
    ours) echo vorel-patch ;;
    xdelta3) echo "xdelta3 -9" ;;
    zstd) echo "zstd -19 --patch-from" ;;
    bsdiff) echo bsdiff ;;
  esac
}

# Per tool, summed over the pairs of a case: bytes sent, build and apply times, peak RSS of both.
declare -A sent make_s make_k apply_s apply_p apply_k same
# pair CASE TOOL OLD NEW: builds and applies one patch, adds its figures to the tool's sums.
# A patch that is not smaller than the new file is not sent: the whole file is (as a publisher
# would), and applying it costs nothing.
pair() {
  local c=$1 tool=$2 old=$3 new=$4 key="$1/$2" p="$data/$1-$2.patch" r="$data/$1-$2.result"
  "$util" quiesce
  # shellcheck disable=SC2046
  measure "$c-$tool-make" $(make_cmd "$tool" "$old" "$new" "$p")
  make_s[$key]=$(calc "printf \"%.3f\", ${make_s[$key]:-0} + $T")
  make_k[$key]=$(calc "print ($K > ${make_k[$key]:-0}) ? $K : ${make_k[$key]:-0}")
  local bytes n
  bytes=$(size_of "$p")
  n=$(size_of "$new")
  [ "$bytes" -lt "$n" ] || bytes=$n
  sent[$key]=$((${sent[$key]:-0} + bytes))
  "$util" quiesce
  # shellcheck disable=SC2046
  measure "$c-$tool-apply" $(apply_cmd "$tool" "$old" "$p" "$r")
  # Ours is timed around patch::Apply, in the process (the launcher applies in its own process);
  # its process time, start-up included, is kept beside it. The tools are timed as processes.
  if [ "$tool" = ours ]; then
    apply_p[$key]=$(calc "printf \"%.3f\", ${apply_p[$key]:-0} + $T")
    T=$(sed -n 's/^applied in \([0-9.]*\) s$/\1/p' "$data/$c-$tool-apply.out")
  fi
  apply_s[$key]=$(calc "printf \"%.3f\", ${apply_s[$key]:-0} + $T")
  apply_k[$key]=$(calc "print ($K > ${apply_k[$key]:-0}) ? $K : ${apply_k[$key]:-0}")
  if cmp -s "$r" "$new"; then
    same[$key]=${same[$key]:-yes}
  else
    same[$key]=NO
    echo "patch: ($c) $(label "$tool") did not rebuild $new" >&2
  fi
  rm -f "$p" "$r"
}

missed=0
summary() {  # measure, ours, reference, ratio, target, met (0/1)
  local verdict=met
  [ "$6" = 1 ] || { verdict=MISSED; missed=1; }
  printf 'SUMMARY\tpatch\t%s\t%s\t%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$4" "$5" "$verdict"
}
pct() { calc "printf \"%.3f\", 100 * $1 / $2"; }

# report CASE TITLE WHOLE TOOLS LIMIT_PCT NOT_RUN: the case's table and summary rows. LIMIT_PCT is
# the bound on ours as a percentage of WHOLE (empty: none).
report() {
  local c=$1 title=$2 whole=$3 tools=$4 limit=$5 not_run=$6
  echo "($c) $title; whole-file increment $whole bytes"
  printf '  %-22s %12s %8s %9s %9s %9s %10s %9s  %s\n' tool "bytes sent" "% whole" "build s" "build MiB" \
    "apply s" "apply MB/s" "apply MiB" identical
  local tool best="" best_tool=""
  for tool in $tools; do
    local k="$c/$tool"
    printf '  %-22s %12s %8s %9s %9s %9s %10s %9s  %s\n' "$(label "$tool")" "${sent[$k]}" "$(pct "${sent[$k]}" "$whole")" \
      "${make_s[$k]}" "$(mib "${make_k[$k]}")" "${apply_s[$k]}" \
      "$(calc "printf \"%.0f\", $whole / 1e6 / (${apply_s[$k]} > 0 ? ${apply_s[$k]} : 1e-9)")" "$(mib "${apply_k[$k]}")" \
      "${same[$k]}"
    if [ "$tool" != ours ] && { [ -z "$best" ] || [ "${sent[$k]}" -lt "$best" ]; }; then
      best=${sent[$k]}
      best_tool=$tool
    fi
  done
  echo "  vorel-patch apply: timed around patch::Apply; as whole processes ${apply_p[$c/ours]} s"
  if [ -n "${cp_s:-}" ]; then
    echo "  cp of the new file (what writing the result costs here): $cp_s s, $(calc "printf \"%.0f\", $whole / 1e6 / $cp_s") MB/s"
  fi
  [ -z "$not_run" ] || printf '  %-22s %12s  (%s)\n' bsdiff "—" "$not_run"
  local o="$c/ours" identical=1
  for tool in $tools; do [ "${same[$c/$tool]}" = yes ] || identical=0; done
  if [ -n "$limit" ]; then
    summary "($c) $title: bytes sent, % of the whole-file increment" "$(pct "${sent[$o]}" "$whole") %" "$whole bytes" \
      "-" "<= $limit %" "$(calc "print (100 * ${sent[$o]} <= $limit * $whole) ? 1 : 0")"
  fi
  summary "($c) bytes sent vs the best tool ($(label "$best_tool"))" "${sent[$o]}" "$best" \
    "$(calc "printf \"%.3f\", ${sent[$o]} / $best")" "<= 1.10" "$(calc "print (${sent[$o]} <= 1.10 * $best) ? 1 : 0")"
  local rate
  rate=$(calc "printf \"%.0f\", $whole / 1e6 / ${apply_s[$o]}")
  summary "($c) applying: peak RSS (MiB), speed (MB/s of result)" "$(mib "${apply_k[$o]}") MiB, $rate MB/s" \
    "$(mib "${apply_k[$c/$best_tool]}") MiB, $(calc "printf \"%.0f\", $whole / 1e6 / ${apply_s[$c/$best_tool]}") MB/s ($(label "$best_tool"))" \
    "-" "<= 64 MiB, >= 300 MB/s" "$(calc "print (${apply_k[$o]} <= 65536 && $rate >= 300) ? 1 : 0")"
  summary "($c) build time (s), peak RSS (MiB)" "${make_s[$o]} s, $(mib "${make_k[$o]}") MiB" \
    "${make_s[$c/$best_tool]} s, $(mib "${make_k[$c/$best_tool]}") MiB ($(label "$best_tool"))" "-" \
    "$([ "$c" = d ] && echo "<= 20 min" || echo "(info)")" \
    "$([ "$c" = d ] && calc "print (${make_s[$o]} <= 1200) ? 1 : 0" || echo 1)"
  summary "($c) results byte-identical to the new file (all tools)" "${same[$o]}" "-" "-" "identical" "$identical"
}

mib_of() { echo $(($1 / scale)); }
# copy_speed FILE: the time of cp FILE into cp_s, the yardstick of writing a result of that size.
copy_speed() {
  "$util" quiesce
  measure copy cp "$1" "$data/copy"
  cp_s=$T
  rm -f "$data/copy"
}
echo "patch: $tools_line; sizes divided by $scale; load $(cut -d' ' -f1-3 /proc/loadavg)"
for c in $cases; do
  dir=$data/$c
  case "$c" in
    a | b)
      read -r _ _ new_bytes < <("$gen" "$c" "$dir" "$(mib_of 1024)")
      cat "$dir/old" "$dir/new" >/dev/null
      tools="ours xdelta3 zstd"
      for tool in $tools; do pair "$c" "$tool" "$dir/old" "$dir/new"; done
      copy_speed "$dir/new"
      skip="not run: needs ~17 x the old file in memory (17 GiB) and hours for 1 GiB"
      if [ "$c" = a ]; then
        report a "$(mib_of 1024) MiB archive, 20 x 64 KiB overwritten" "$new_bytes" "$tools" 5 "$skip"
      else
        inserted=$((new_bytes - $(size_of "$dir/old")))
        summary "(b) bytes sent vs the inserted bytes" "${sent[b/ours]}" "$inserted" \
          "$(calc "printf \"%.3f\", ${sent[b/ours]} / $inserted")" "<= 1.10" \
          "$(calc "print (${sent[b/ours]} <= 1.10 * $inserted) ? 1 : 0")"
        report b "$(mib_of 1024) MiB archive, $((inserted >> 20)) MiB inserted in the middle" "$new_bytes" "$tools" "" \
          "$skip"
      fi
      ;;
    c)
      read -r _ _ new_bytes < <("$gen" c "$dir" "$(mib_of 200)")
      cat "$dir/old" "$dir/new" >/dev/null
      tools="ours xdelta3 zstd bsdiff"
      for tool in $tools; do pair c "$tool" "$dir/old" "$dir/new"; done
      copy_speed "$dir/new"
      report c "$(mib_of 200) MiB executable, 200 functions grown" "$new_bytes" "$tools" 6 ""
      ;;
    d)
      read -r _ old_bytes game_bytes changed changed_bytes < <("$gen" d "$dir" "$(mib_of 2048)")
      files=$(find "$dir/new" -type f | wc -l)
      cp_s=""
      tools="ours xdelta3 zstd bsdiff"
      while IFS= read -r path; do
        cat "$dir/old/$path" "$dir/new/$path" >/dev/null
        for tool in $tools; do pair d "$tool" "$dir/old/$path" "$dir/new/$path"; done
      done <"$dir/changed.txt"
      report d "$((game_bytes >> 20)) MiB game, $changed of $files files edited" "$changed_bytes" "$tools" 5 ""
      ;;
    *) echo "patch: unknown case $c" >&2; exit 2 ;;
  esac
  rm -rf "$dir" && "$util" removed
  echo
done
echo "patch: load at the end $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "$missed" = 1 ]; then
  echo "patch: a target was missed" >&2
  exit 1
fi
