#!/usr/bin/env bash
# Writers of one company under heavy load, none ever killed: no live run may be taken for a
# stopped one (its marker, copies or lock removed, its files put back), no "stopped" said of one,
# no "in use" without its holder (or that none could be seen), and every record written stands
# once. WRITERS writers (glm glt apm api demo company) run COMMANDS commands each, each a
# conversion of a small GL master, GL transaction or AP invoice file of keys of its own, or a load
# of two GL records, beside 32 busy loops and four loops writing and syncing files. Never part of
# the suite (the suite drives each window of the run lock through the test hooks).
# usage: bench/race_run_lock_load.sh [COMMANDS (25)] [WRITERS (6)] [build folder]
#        LOAD=0 ...   without the busy and syncing loops;  KEEP=1 ...   keeps the work folder
set -uo pipefail
cd "$(dirname "$0")/.."
commands="${1:-25}"
writers="${2:-6}"
build="${3:-build}"
. bench/race_lib.sh
race_start "$build"
DEMO_CLI="$cli" DEMO_DIR="$co" ./scripts/demo glm glt apm api >"$work/demo.log" 2>&1 || { cat "$work/demo.log"; exit 1; }
invoice=$(grep -v '^#' data/samples/api/demo-invoices.txt | head -2)
race_load 32 4 0

# writer W: its COMMANDS commands, one after another, each of a text of its own.
writer() {
  local w=$1 c kind title text status
  for c in $(seq "$commands"); do
    text="$work/w$w.$c"
    case $(((w + c) % 4)) in
      0) kind=glm; title="Race $w $c"
         printf '#,GLM,xvglm\n6,7%d%02d-00,%s,1,,,,,,,,1\n' "$w" "$c" "$title" >"$text.txt" ;;
      1) kind=glt; title="race $w $c"
         printf '#,GLT,xvglt\n1,01-1-10-5000-00,06/15/2026,1,1.00,,1,,,,,,,,,,,,,,,,,,,,,,,,,"%s"\n1,01-1-10-1000-00,06/15/2026,1,,1.00,2,,,,,,,,,,,,,,,,,,,,,,,,,\n' \
           "$title" >"$text.txt" ;;
      2) kind=api; title="R$w-$c"
         { echo '#,API,xvapi,DUPS OK'; printf '%s\n' "$invoice" | sed "s/H-1001/$title/"; } >"$text.txt" ;;
      3) kind=load; title="Load $w $c"
         printf '@GLM\nR1 AACCT="011107%d%02d01" ATITLE="%s" ATYPE=1\nR1 AACCT="011107%d%02d02" ATITLE="%s b" ATYPE=1\n' \
           "$w" "$c" "$title" "$w" "$c" "$title" >"$text.load" ;;
    esac
    if [ "$kind" = load ]; then
      "$cli" load --company "$co" "$text.load" >"$work/out.$w.$c" 2>&1
    else
      "$cli" convert --company "$co" --yes "$text.txt" >"$work/out.$w.$c" 2>&1
    fi
    status=$?
    echo "$kind $status $title" >>"$work/status.$w"
  done
}

start=$(date +%s)
pids=()
for w in $(seq "$writers"); do writer "$w" & pids+=($!); done
for p in "${pids[@]}"; do wait "$p"; done
echo "race_run_lock_load: $writers writers x $commands commands in $(($(date +%s) - start)) s"
race_report
