#!/usr/bin/env bash
# The lock races run many at a time on a loaded machine: a race that passes on a quiet machine
# proves little. Beside 32 busy loops, four loops writing and syncing 32 MB and LOCKERS (4)
# programs taking and dropping flocks and lockfs on 40 files each (a long, changing /proc/locks,
# read in parts), each race runs ROUNDS rounds of WIDTH copies at once, and the runs that failed
# are counted and their last lines kept. Never part of the suite (the suite drives each window through the test hooks).
#   - LockFileTest.ProgramsTakingTurnsWhileTheLockFileIsRemadeNeverHoldItTogether
#   - Batches.TwoProcessesNeverShareANumber
#   - RunMarkerTest.ASettlerBesideALiveRunTakesNothingOfIt
# usage: bench/run_lock_race.sh [ROUNDS (40)] [WIDTH (8)] [build folder]
#        LOAD=0 bench/run_lock_race.sh ...   runs without the busy loops and the syncing writes
#        ONLY=turns|batches|settler bench/run_lock_race.sh ...   runs one of the three
set -uo pipefail
cd "$(dirname "$0")/.."
rounds="${1:-40}"
width="${2:-8}"
build="${3:-build}"
cmake --build "$build" --target test_datafile test_suite >/dev/null || exit 1
bin="$(cd "$build" && pwd)/tests"
work="$(mktemp -d)"
. bench/race_lib.sh
trap race_stop EXIT
trap 'exit 1' INT TERM
race_load 32 4 "${LOCKERS:-4}"

# race BINARY FILTER: runs it ROUNDS x WIDTH times and says how many failed.
race() {
  local failed=0 runs=0
  for round in $(seq "$rounds"); do
    local pids=()
    for k in $(seq "$width"); do
      "$bin/$1" --gtest_filter="$2" >"$work/out.$k" 2>&1 &
      pids+=($!)
    done
    for k in $(seq "$width"); do
      runs=$((runs + 1))
      if ! wait "${pids[$((k - 1))]}"; then
        failed=$((failed + 1))
        echo "--- $2: round $round, copy $k failed:"
        grep -E "Failure|Which is|lock|batch number|turn ended" "$work/out.$k" | head -10
      fi
    done
  done
  echo "$2: $failed of $runs runs failed"
}

[ "${ONLY:-turns}" = turns ] && race test_datafile LockFileTest.ProgramsTakingTurnsWhileTheLockFileIsRemadeNeverHoldItTogether
[ "${ONLY:-batches}" = batches ] && race test_suite Batches.TwoProcessesNeverShareANumber
[ "${ONLY:-settler}" = settler ] && race test_datafile RunMarkerTest.ASettlerBesideALiveRunTakesNothingOfIt
exit 0
