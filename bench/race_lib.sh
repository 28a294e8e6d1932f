# What the run-lock races (race_run_lock_load.sh, race_run_lock_long.sh) share; sourced from the
# top folder. A race calls race_start (which sets $cli, $work and $co), starts its load with
# race_load, runs its writers, each writing one output file per command and a line
# "<kind> <status> <title>" per command to $work/status.<writer>, then calls race_report.

loads=()

# race_start BUILD: builds the command line, makes the work folder (the company is $co in it) and
# stops the load and removes the folder when the race ends.
race_start() {
  cmake --build "$1" --target dodedoz-cli >/dev/null || exit 1
  cli="$(cd "$1" && pwd)/bin/dodedoz-cli"
  export DODEDOZ_DATA="$PWD/data"
  work="$(mktemp -d)"
  co="$work/co"
  trap race_stop EXIT
  trap 'exit 1' INT TERM
}
race_stop() {
  for p in "${loads[@]}"; do
    pkill -P "$p" 2>/dev/null
    kill "$p" 2>/dev/null
  done
  wait 2>/dev/null
  [ "${KEEP:-0}" = 1 ] && echo "kept: $work" || rm -rf "$work"
}

# race_load BUSY SYNCING LOCKERS: BUSY busy loops, SYNCING loops writing and syncing SYNC_MB (32)
# MB, and LOCKERS programs each taking and dropping flocks and lockfs on 40 files of their own at
# random. BUSY=N in the environment sets the busy loops for a machine others share.
race_load() {
  [ "${LOAD:-1}" = 0 ] && return 0
  local i
  for i in $(seq "${BUSY:-$1}"); do (while :; do :; done) & loads+=($!); done
  for i in $(seq "$2"); do
    (while :; do dd if=/dev/zero of="$work/io.$i" bs=1M count="${SYNC_MB:-32}" conv=fsync status=none; done) & loads+=($!)
  done
  for i in $(seq "$3"); do
    mkdir -p "$work/locker.$i"
    python3 - "$work/locker.$i" <<'PY' &
import fcntl, os, random, sys, time
folder = sys.argv[1]
fds = [os.open(os.path.join(folder, "f%d" % n), os.O_RDWR | os.O_CREAT, 0o600) for n in range(40)]
while True:
    fd = random.choice(fds)
    if random.random() < 0.5:
        fcntl.flock(fd, random.choice([fcntl.LOCK_SH, fcntl.LOCK_EX]))
        time.sleep(random.random() / 1000)
        fcntl.flock(fd, fcntl.LOCK_UN)
    else:
        fcntl.lockf(fd, fcntl.LOCK_EX, 1, random.randrange(64))
        time.sleep(random.random() / 1000)
        fcntl.lockf(fd, fcntl.LOCK_UN, 1, 0)
PY
    loads+=($!)
  done
}

# race_report: the counts of the race, from every command's output and status line, and the
# company as it stands after it. Ends 1 when anything is counted that must never be.
race_report() {
  local commands ok taken stopped inuse cause lost doubled integrity leftovers
  # Each output with the lines a report wraps ("  by another program ...") joined to their start.
  for f in "$work"/out.*; do sed -e ':a' -e 'N;$!ba' -e 's/\n  / /g' "$f"; echo; done >"$work/said"
  commands=$(cat "$work"/status.* | wc -l)
  ok=$(cat "$work"/status.* | awk '$2 == 0 || $2 == 1' | wc -l)
  # A live run taken for a stopped one: its marker removed under it, or a put-back where no run
  # was ever stopped.
  taken=$(grep -cE "run marker .*cannot be written|were put back as they were before it" "$work/said")
  # "Stopped" said where nothing stopped: every such word here is said of a live run.
  stopped=$(grep -c "stopped before it had finished posting" "$work/said")
  inuse=$(grep -c "is in use" "$work/said")
  # "in use" with nothing after it: no holder named, nor that none could be seen.
  cause=$(grep "is in use" "$work/said" | grep -cvE "is in use( by|: )")
  # Every record a command that ended 0 or 1 wrote stands once; no other.
  lost=0
  doubled=0
  "$cli" dump --company "$co" GLM >"$work/glm.dump" 2>&1
  # (a load writes two records: "<title>" and "<title> b")
  while read -r kind status title; do
    [ "$status" = 0 ] || [ "$status" = 1 ] || continue
    for t in "$title" "$title b"; do
      [ "$kind" = glm ] && [ "$t" != "$title" ] && continue
      [ "$kind" = glm ] || [ "$kind" = load ] || continue
      n=$(grep -cE "(A|BS)TITLE=\"$t\"" "$work/glm.dump")
      [ "$n" = 1 ] || { [ "$n" = 0 ] && lost=$((lost + 1)) || doubled=$((doubled + 1)); }
    done
  done < <(cat "$work"/status.*)
  integrity=ok
  for f in "$co"/MASTER.* "$co"/CURRENT.* "$co"/HISTORY.* "$co"/NEW.*; do
    [ -f "$f" ] || continue
    r=$(sqlite3 "file:$f?mode=ro" "pragma integrity_check" 2>&1)
    [ "$r" = ok ] || integrity="$f: $r"
  done
  leftovers=$(find "$co" -name '*-journal' -o -name 'run~*' -o -name '*~*~*' | wc -l)
  echo "commands:                      $commands ($ok ended 0 or 1)"
  echo "live runs taken:               $taken"
  echo "'stopped' said of a live run:  $stopped"
  echo "'in progress' said:            $(grep -c "is in progress" "$work/said")"
  echo "'in use' said:                 $inuse ($cause without its cause)"
  echo "records lost / doubled:        $lost / $doubled"
  echo "integrity:                     $integrity"
  echo "journals, markers left:        $leftovers"
  echo "endings other than 0 and 1:"
  grep -hE "^dodedoz: (error|warning)" "$work/said" | sed -E 's/[0-9]{3,}/N/g' | sort | uniq -c | sort -rn | head -8
  [ "$taken" = 0 ] && [ "$stopped" = 0 ] && [ "$cause" = 0 ] && [ "$lost" = 0 ] && [ "$doubled" = 0 ] &&
    [ "$integrity" = ok ] && [ "$leftovers" = 0 ]
}
