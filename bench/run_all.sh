#!/usr/bin/env bash
# Runs the benchmark of every conversion type that has one (bench/run_<abbr>.sh, three letters:
# run_glm.sh, ...) and prints one table of their times, ratios and peaks against `sqlite3 .import`
# of the same rows. Each benchmark runs `runs` times (default 3; each run times its own
# `sqlite3 .import`, so every ratio is paired); the table shows the medians.
#
# A conversion benchmark takes [records] [build folder] and prints these three lines:
#   sqlite3 .import:  <seconds> s
#   Examine Files:    <seconds> s, ratio <ratio> ..., peak <MB> MB
#   Convert:          <seconds> s, ratio <ratio> ..., peak <MB> MB
#
# usage: bench/run_all.sh [records] [runs] [build folder]
#        DZ_BENCH_TYPES="glm glt" bench/run_all.sh ...   runs only the types named
set -euo pipefail
cd "$(dirname "$0")/.."
records="${1:-1000000}"
runs="${2:-3}"
build="${3:-build}"

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2]; else printf "%.2f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
field() { sed -n "s/^$1 *\([0-9.]*\) s.*/\1/p"; }
ratio() { sed -n "s/^$1.*ratio \([0-9.]*\).*/\1/p"; }
peak() { sed -n "s/^$1.*peak \([0-9]*\) MB.*/\1/p"; }
target() { sed -n "s/^$1.*(target at most \([0-9.]*\).*/\1/p" | head -1; }
# "yes" when the median ratio is at most the target the benchmark states, "-" when it states none.
met() { awk -v r="$1" -v t="$2" 'BEGIN { if (t == "" || r == "-") print "-"; else print (r + 0 <= t + 0) ? "yes" : "NO" }'; }

found=0
rows=""
for script in bench/run_???.sh; do
  [ -e "$script" ] || continue
  [ "$script" = bench/run_all.sh ] && continue
  abbr="$(basename "$script" .sh)"
  abbr="${abbr#run_}"
  if [ -n "${DZ_BENCH_TYPES:-}" ] && [[ " ${DZ_BENCH_TYPES,,} " != *" $abbr "* ]]; then continue; fi
  found=1
  abbr="${abbr^^}"
  outs=()
  for ((i = 0; i < runs; i++)); do
    if out=$("$script" "$records" "$build" 2>&1); then
      outs+=("$out")
    else
      echo "$script failed:" >&2
      printf '%s\n' "$out" >&2
    fi
  done
  if [ "${#outs[@]}" -eq 0 ]; then
    rows+="$(printf '| %s | %s | failed | | | | | | | | | |' "$abbr" "$records")"$'\n'
    continue
  fi
  col() {  # the median of one value over the runs
    for out in "${outs[@]}"; do printf '%s\n' "$out" | "$1" "$2"; done | median
  }
  er="$(col ratio 'Examine Files:')" cr="$(col ratio 'Convert:')"
  et="$(printf '%s\n' "${outs[0]}" | target 'Examine Files:')" ct="$(printf '%s\n' "${outs[0]}" | target 'Convert:')"
  rows+="$(printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |' "$abbr" "$records" \
    "$(col field 'sqlite3 .import:')" \
    "$(col field 'Examine Files:')" "$er" "${et:--}" "$(met "$er" "$et")" "$(col peak 'Examine Files:')" \
    "$(col field 'Convert:')" "$cr" "${ct:--}" "$(met "$cr" "$ct")" "$(col peak 'Convert:')")"$'\n'
done
[ "$found" = 1 ] || { echo "no conversion benchmarks (bench/run_<abbr>.sh)" >&2; exit 2; }

echo "Medians of $runs paired runs against sqlite3 .import of the same rows (ratio = ours / sqlite3)."
echo "| type | records | sqlite3 .import s | Examine s | Examine ratio | Examine target | met | Examine peak MB | Convert s | Convert ratio | Convert target | met | Convert peak MB |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|"
printf '%s' "$rows"
