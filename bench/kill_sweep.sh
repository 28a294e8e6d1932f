#!/usr/bin/env bash
# A write killed at every sync, then another member's look and write: the company ends whole.
# For each writing command (a load, GL master, GL transaction and AP invoice conversions, a table
# import), run by user A of a company shared with group G, it is killed (SIGKILL, as a power cut
# would end it) at its first, second, ... sync point until it finishes unkilled. After each kill,
# user B dumps the command's data files (a look) and loads one GL account (a write); then A's next
# load finishes or clears A's stopped run, and B loads again where refused for it. Every data file
# must pass `integrity_check`, no journal or run file may stand, and the company's records must be
# those of B's load after A's command either undone or done whole, never between. Run as root;
# never part of the suite (the suite drives each kill point it needs through its own tests).
# usage: bench/kill_sweep.sh USER_A USER_B [OPS (load glm glt api tables)] [build folder]
#        KEEP=1 ...   keeps the work folder;  VERBOSE=1 ...   prints what each kill's commands said
set -uo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" = 0 ] || { echo "kill_sweep: run as root (it acts as two users)" >&2; exit 2; }
ua="${1:?user A}"
ub="${2:?user B}"
read -r -a ops <<<"${3:-load glm glt api tables}"
build="${4:-build}"
cmake --build "$build" --target dodedoz-cli dz_kill_at_sync >/dev/null || exit 1
cli="$(cd "$build" && pwd)/bin/dodedoz-cli"
killer="$(cd "$build" && pwd)/tests/libdz_kill_at_sync.so"
export DODEDOZ_DATA="$PWD/data"
work="$(mktemp -d)"
chmod 0755 "$work"
trap '[ "${KEEP:-0}" = 1 ] && echo "kept: $work" || rm -rf "$work"' EXIT
DEMO_CLI="$cli" DEMO_DIR="$work/base" ./scripts/demo glm glt apm api tables >"$work/demo.log" 2>&1 ||
  { cat "$work/demo.log"; exit 1; }
chown -R "$ua:$(id -gn "$ua")" "$work/base"
chmod -R g+w "$work/base"
find "$work/base" -type d -exec chmod g+s {} +

as() { local u=$1; shift; runuser -u "$u" -- env HOME="$work" DODEDOZ_DATA="$DODEDOZ_DATA" "$@"; }
# The texts A converts, in a folder of A's (a conversion writes its reject file beside its text).
mkdir "$work/texts"
printf '@GLM\nR1 AACCT="01110900001" ATITLE="Sweep A 1" ATYPE=1\nR1 AACCT="01110900002" ATITLE="Sweep A 2" ATYPE=1\n' >"$work/a.load"
printf '@GLM\nR1 AACCT="01110900099" ATITLE="Sweep B" ATYPE=1\n' >"$work/b.load"
printf '@GLM\nR1 AACCT="01110900098" ATITLE="Sweep A again" ATYPE=1\n' >"$work/a2.load"
printf '#,GLM,xvglm\n6,7101-00,Sweep master,1,,,,,,,,1\n6,7102-00,Sweep master 2,1,,,,,,,,1\n' >"$work/texts/glm.txt"
printf '#,GLT,xvglt\n1,01-1-10-5000-00,06/15/2026,1,1.00,,1,,,,,,,,,,,,,,,,,,,,,,,,,"sweep"\n1,01-1-10-1000-00,06/15/2026,1,,1.00,2,,,,,,,,,,,,,,,,,,,,,,,,,\n' >"$work/texts/glt.txt"
{ echo '#,API,xvapi,DUPS OK'; grep -v '^#' data/samples/api/demo-invoices.txt | head -2 | sed 's/H-1001/SWEEP-1/'; } >"$work/texts/api.txt"
printf '01-1-10-1000-00,01110200000\n01-1-10-9999-00,01110100000\n' >"$work/texts/table.txt"
chmod 0644 "$work"/*.load "$work"/texts/*

# op OP COMPANY: user A's command; its status.
op() {
  case $1 in
    load) "$cli" load --company "$2" "$work/a.load" ;;
    glm | glt | api) "$cli" convert --company "$2" --yes --report "$2/report.txt" "$work/in/$1.txt" ;;
    tables) "$cli" tables import --company "$2" DEMO --app GL --field 9 "$work/in/table.txt" ;;
  esac
}
# looked OP: the abbreviations a look at OP's files dumps.
looked() {
  case $1 in load | glm) echo GLM ;; glt) echo "GLM GLT" ;; api) echo APM ;; tables) echo XVM ;; esac
}
# state COMPANY: every data file's rows, from SQLite itself (read only: a journal left makes it fail).
state() {
  local f
  for f in "$1"/*.*; do
    case $f in *.toml | *.txt | *.log | *-journal | *-wal) continue ;; esac
    [ -f "$f" ] || continue
    echo "== ${f##*/}"
    sqlite3 "file:$f?mode=ro" .dump 2>&1
  done |
    # What differs between two runs of one command: the last run's number and the times said.
    grep -v "^INSERT INTO dz_meta VALUES('run'," |
    sed -E "s/(VALUES\('converted_text:[0-9]+',).*(using [a-z]+\.tpl).*/\1\2/; s/[0-9]{1,2}:[0-9]{2}(:[0-9]{2})? ?([AP]M)?/T/g"
}
whole() {
  local f r
  for f in "$1"/*.*; do
    case $f in *.toml | *.txt | *.log | *-journal | *-wal) continue ;; esac
    r=$(sqlite3 "file:$f?mode=ro" "pragma integrity_check" 2>&1)
    [ "$r" = ok ] || { echo "${f##*/}: $r"; return 1; }
  done
}

# The company before A's command and after it, each with B's load after it.
fresh() {
  rm -rf "$work/co" "$work/in"
  cp -a "$work/base" "$work/co"
  cp -a "$work/texts" "$work/in"
  chown -R "$ua" "$work/in"
}
# next COMPANY: B's write and A's next, as after each kill.
next() {
  as "$ub" "$cli" load --company "$1" "$work/b.load" >/dev/null 2>&1
  as "$ua" "$cli" load --company "$1" "$work/a2.load" >/dev/null 2>&1
}
fresh; next "$work/co"; state "$work/co" | grep -v "Sweep A again" >"$work/before"
total=0; bad=0
for o in "${ops[@]}"; do
  fresh
  as "$ua" bash -c "$(declare -f op); cli=$cli work=$work; op $o $work/co" >/dev/null 2>&1
  s=$?
  [ "$s" -le 1 ] || { echo "$o: unkilled it ends $s"; bad=$((bad + 1)); continue; }
  next "$work/co"
  state "$work/co" | grep -v "Sweep A again" >"$work/after"
  n=0; kills=0; idle=0; undone=0; done_=0; lookrefused=0; brefused=0; fails=0
  while :; do
    n=$((n + 1))
    fresh
    as "$ua" env LD_PRELOAD="$killer" DZ_KILL_AT_SYNC="$n" bash -c "$(declare -f op); cli=$cli work=$work; op $o $work/co" \
      >"$work/out.a" 2>&1
    s=$?
    [ "$s" = 137 ] || break
    kills=$((kills + 1))
    : >"$work/said"
    for abbr in $(looked "$o"); do
      as "$ub" "$cli" dump --company "$work/co" "$abbr" >/dev/null 2>>"$work/said" || lookrefused=$((lookrefused + 1))
    done
    # B's write, then A's next command (which finishes or clears A's stopped run), then B's
    # write again where the first was refused for that run.
    as "$ub" "$cli" load --company "$work/co" "$work/b.load" >>"$work/said" 2>&1
    sb=$?
    as "$ua" "$cli" load --company "$work/co" "$work/a2.load" >>"$work/said" 2>&1
    sa=$?
    if [ "$sb" != 0 ]; then
      brefused=$((brefused + 1))
      as "$ub" "$cli" load --company "$work/co" "$work/b.load" >>"$work/said" 2>&1
      sb=$?
    fi
    why=""
    [ "$sb" = 0 ] || why="B's load ends $sb"
    [ "$sa" = 0 ] || why="$why; A's next load ends $sa"
    # A journal whose magic was never written plays nothing: the next write of its file removes
    # it. Any other file left, or a look that still fails, is something stuck.
    for j in "$work"/co/*-journal; do
      [ -f "$j" ] && [ "$(head -c 8 "$j" | tr -d '\0' | wc -c)" = 0 ] && idle=$((idle + 1)) && rm -f "$j"
    done
    left=$(find "$work/co" -name '*-journal' -o -name '*-wal' -o -name 'run~*' -o -name '*~*~*' -o -name '*.restore*' -o -name '*.new' | head -3)
    [ -z "$left" ] || why="$why; left: $left"
    for abbr in $(looked "$o"); do
      as "$ub" "$cli" dump --company "$work/co" "$abbr" >/dev/null 2>&1 || why="$why; B's look at $abbr still fails"
    done
    w=$(whole "$work/co") || why="$why; $w"
    state "$work/co" | grep -v "Sweep A again" >"$work/now"
    # Once more where it matches neither: a read cut short by the loaded machine is no finding.
    cmp -s "$work/now" "$work/before" || cmp -s "$work/now" "$work/after" ||
      state "$work/co" | grep -v "Sweep A again" >"$work/now"
    if cmp -s "$work/now" "$work/before"; then undone=$((undone + 1))
    elif cmp -s "$work/now" "$work/after"; then done_=$((done_ + 1))
    else why="$why; records neither before nor after"
    fi
    if grep -qE "journal" "$work/said" && ! grep -qE "taken back from its journal" "$work/said"; then
      why="$why; a journal said: $(grep -m1 journal "$work/said")"
    fi
    if [ -n "$why" ]; then
      fails=$((fails + 1))
      echo "$o killed at point $n:$why"
      [ "${VERBOSE:-0}" = 1 ] && sed 's/^/    /' "$work/out.a" "$work/said"
      [ "${KEEP:-0}" = 1 ] && cp -a "$work/co" "$work/failed.$o.$n"
    elif [ "${VERBOSE:-0}" = 1 ]; then
      echo "$o killed at point $n: whole"; sed 's/^/    /' "$work/said"
    fi
  done
  echo "$o: $kills kills (unkilled past point $((n - 1)), ends $s): $undone undone, $done_ done whole," \
    "$idle idle journals left, $lookrefused looks refused, $brefused of B's loads refused before A's next command, $fails not whole"
  total=$((total + kills)); bad=$((bad + fails))
done
echo "kill_sweep: $total kills, $bad not whole"
[ "$bad" = 0 ]
