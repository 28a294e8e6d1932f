#!/usr/bin/env bash
# Long runs beside a long, busy lock table: CONVERTERS writers each convert CONVERSIONS GL
# transaction files of LINES lines (a text of their own each time) into a glm glt demo company,
# while LOADERS others each load one GL account in a loop until the conversions end, beside 32
# busy loops, four loops writing and syncing files and four programs taking and dropping flocks
# and lockfs on 40 files of their own at random. No live run may be taken for a stopped one, no
# "stopped" said of one, no "in use" said without its holder (or that none could be seen), and
# every record written stands once. Never part of the suite.
# usage: bench/race_run_lock_long.sh [CONVERSIONS each (10)] [LINES (400000)] [CONVERTERS (2)]
#                                    [LOADERS (6)] [build folder]
#        LOAD=0 ...   without the load;  KEEP=1 ...   keeps the work folder
set -uo pipefail
cd "$(dirname "$0")/.."
conversions="${1:-10}"
lines="${2:-400000}"
converters="${3:-2}"
loaders="${4:-6}"
build="${5:-build}"
. bench/race_lib.sh
race_start "$build"
DEMO_CLI="$cli" DEMO_DIR="$co" ./scripts/demo glm glt >"$work/demo.log" 2>&1 || { cat "$work/demo.log"; exit 1; }
race_load 32 4 4

# converter W: its conversions, each of a GL transaction text of its own (its note differs).
converter() {
  local w=$1 c text
  for c in $(seq "$conversions"); do
    text="$work/long.$w.$c.txt"
    awk -v n="$lines" -v tag="long $w $c" 'BEGIN {
      print "#,GLT,xvglt"
      for (i = 0; i < n / 2; i++) {
        printf "1,01-1-10-5000-00,06/15/2026,1,1.00,,1,,,,,,,,,,,,,,,,,,,,,,,,,\"%s %d\"\n", tag, i
        print "1,01-1-10-1000-00,06/15/2026,1,,1.00,2,,,,,,,,,,,,,,,,,,,,,,,,,"
      }
    }' >"$text"
    "$cli" convert --company "$co" --yes "$text" >"$work/out.c$w.$c" 2>&1
    echo "glt $? $text" >>"$work/status.c$w"
    rm -f "$text"
  done
}

# loader W: one GL account a load, until every conversion has ended.
loader() {
  local w=$1 c=0 title
  while [ ! -e "$work/done" ]; do
    c=$((c + 1))
    title="Long load $w $c"
    printf '@GLM\nR1 AACCT="011108%d%04d" ATITLE="%s" ATYPE=1\n' "$w" "$c" "$title" >"$work/l$w.load"
    "$cli" load --company "$co" "$work/l$w.load" >"$work/out.l$w.$c" 2>&1
    echo "glm $? $title" >>"$work/status.l$w"
  done
}

start=$(date +%s)
cpids=()
lpids=()
for w in $(seq "$converters"); do converter "$w" & cpids+=($!); done
for w in $(seq "$loaders"); do loader "$w" & lpids+=($!); done
for p in "${cpids[@]}"; do wait "$p"; done
touch "$work/done"
for p in "${lpids[@]}"; do wait "$p"; done
echo "race_run_lock_long: $converters x $conversions conversions of $lines lines, $loaders loaders, in $(($(date +%s) - start)) s"
grep -h "^glt" "$work"/status.c* | awk '{ n[$2]++ } END { for (s in n) printf "conversions ending %s: %d\n", s, n[s] }'
race_report
