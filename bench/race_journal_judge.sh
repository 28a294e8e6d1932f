#!/usr/bin/env bash
# Writers committing one after another beside a look, under heavy load: a journal a writer is
# committing is never judged as anything but that writer's. Four loops of one-account loads
# (distinct accounts; two users of one group where the users dzsa and dzsb exist, run by root),
# COMMANDS loads each, beside a looping dump of the same file, 32 busy loops and four loops
# writing and syncing files. No load may be refused for a journal (one meeting another writer
# at work is refused "in use", naming it), no journal named that has gone,
# and no dump may end 0 after saying it would neither read nor write the file. Never part of the
# suite (the suite drives the judge's window through its test hook, in both orders).
# usage: bench/race_journal_judge.sh [COMMANDS (250)] [build folder]
#        LOAD=0 ...   without the busy and syncing loops;  KEEP=1 ...   keeps the work folder
#        USERS="a b" ...   the two users of one group (dzsa dzsb);  BUSY=N ...   N busy loops
set -uo pipefail
cd "$(dirname "$0")/.."
commands="${1:-250}"
build="${2:-build}"
. bench/race_lib.sh
race_start "$build"
DEMO_CLI="$cli" DEMO_DIR="$co" ./scripts/demo glm >"$work/demo.log" 2>&1 || { cat "$work/demo.log"; exit 1; }
users=(root root)
read -r ua ub <<<"${USERS:-dzsa dzsb}"
if [ "$(id -u)" = 0 ] && id "$ua" >/dev/null 2>&1 && id "$ub" >/dev/null 2>&1; then
  users=("$ua" "$ub")
  chmod 0755 "$work"
  chown -R "$ua":"$(id -gn "$ua")" "$co"
  chmod -R g+w "$co"
  find "$co" -type d -exec chmod g+s {} +
fi
as() { local u=$1; shift; if [ "$u" = root ]; then "$@"; else runuser -u "$u" -- env DODEDOZ_DATA="$DODEDOZ_DATA" "$@"; fi; }
race_load 32 4 0

# loader L: its COMMANDS loads of one account each, as one of the users.
loader() {
  local l=$1 c text status user=${users[$(($1 % 2))]}
  for c in $(seq "$commands"); do
    text="$work/l$l.$c.load"
    printf '@GLM\nR1 AACCT="0111%d%05d" ATITLE="Judge %d %d" ATYPE=1\n' "$l" "$c" "$l" "$c" >"$text"
    chmod 0644 "$text"
    as "$user" "$cli" load --company "$co" "$text" >"$work/out.l$l.$c" 2>&1
    status=$?
    echo "load $status Judge $l $c" >>"$work/status.l$l"
  done
}
looker() {
  local n=0 status
  while :; do
    n=$((n + 1))
    "$cli" dump --company "$co" GLM >/dev/null 2>"$work/look.$n"
    status=$?
    # Only what a look said about a journal is kept, with how the look ended.
    if grep -q "journal" "$work/look.$n"; then echo "status $status" >>"$work/look.$n"; else rm -f "$work/look.$n"; fi
  done
}

start=$(date +%s)
looker &
lookerPid=$!
pids=()
for l in 1 2 3 4; do loader "$l" & pids+=($!); done
for p in "${pids[@]}"; do wait "$p"; done
kill "$lookerPid" 2>/dev/null
wait "$lookerPid" 2>/dev/null
echo "race_journal_judge: 4 loaders x $commands loads (as ${users[*]}) beside a looping dump in $(($(date +%s) - start)) s"
# A load meeting another writer at work is refused "in use", naming it: that is no journal's doing.
refused=$(grep -l "journal" "$work"/out.l* 2>/dev/null | wc -l)
inuse=$(grep -l "is in use by another program" "$work"/out.l* 2>/dev/null | wc -l)
gone=$(cat "$work"/out.l* "$work"/look.* 2>/dev/null | grep -cE "cannot be opened \(No such file|a file of 0 names|replaced while it was looked at")
neither=0
for f in "$work"/look.*; do
  [ -f "$f" ] && grep -q "neither read nor written" "$f" && grep -qx "status 0" "$f" && neither=$((neither + 1))
done
lost=0
"$cli" dump --company "$co" GLM >"$work/glm.dump" 2>&1
while read -r kind status title; do
  [ "$status" = 0 ] || continue
  [ "$(grep -c "ATITLE=\"$title\"" "$work/glm.dump")" = 1 ] || lost=$((lost + 1))
done < <(cat "$work"/status.l*)
integrity=$(sqlite3 "file:$co/MASTER.GLM?mode=ro" "pragma integrity_check" 2>&1)
echo "loads refused for a journal:          $refused of $((4 * commands))"
echo "loads meeting another writer (in use): $inuse"
echo "journals named that had gone:         $gone"
echo "looks said of a journal:              $(grep -l journal "$work"/look.* 2>/dev/null | wc -l)"
echo "looks ending 0 after 'neither read':  $neither"
echo "loaded records lost or doubled:       $lost"
echo "integrity:                            $integrity"
echo "what was said of journals:"
grep -h "journal" "$work"/out.l* "$work"/look.* 2>/dev/null | sed -E 's/[0-9]{2,}/N/g' | sort | uniq -c | sort -rn | head -6
[ "$refused" = 0 ] && [ "$gone" = 0 ] && [ "$neither" = 0 ] && [ "$lost" = 0 ] && [ "$integrity" = ok ]
