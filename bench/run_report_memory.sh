#!/usr/bin/env bash
# Peak memory (the maximum resident set that /usr/bin/time -v reports) of `dodedoz-cli examine`
# on GL accounts files whose every record is rejected, so that each record adds to the report:
#   - N records of too few columns ("6,0000001"), one report line each (default a million);
#   - M records separated by semicolons ("6;0000001;Cash;1"), each rejected with the separator
#     hint, two report lines each (default ten million).
# What a run holds must not grow with its report: both peaks should be about the same, whatever
# N and M. The reports go to files in a temporary folder (removed on exit); the second takes
# some 2 GB of disk at ten million records.
# usage: bench/run_report_memory.sh [N] [M] [build folder]
#        DZ_CLI=path bench/run_report_memory.sh ...   runs that dodedoz-cli (an older one) unbuilt
set -euo pipefail
cd "$(dirname "$0")/.."
records="${1:-1000000}"
many="${2:-10000000}"
build="${3:-build}"
if [ -n "${DZ_CLI:-}" ]; then
  cli="$(realpath "$DZ_CLI")"
else
  cmake --build "$build" --target dodedoz-cli >/dev/null
  cli="$(cd "$build" && pwd)/bin/dodedoz-cli"
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export DODEDOZ_DATA="${DODEDOZ_DATA:-$PWD/data}"
"$cli" company init "$work/co" --modules GL >/dev/null

# text NAME COUNT FORMAT: $work/NAME.txt, a GL accounts file of COUNT records printed with the
# awk format FORMAT from their numbers.
text() {
  {
    echo '#,GLM,xvglm'
    awk -v n="$2" -v f="$3" 'BEGIN { for (i = 1; i <= n; i++) printf f "\n", i }'
  } >"$work/$1.txt"
}

# peak NAME COUNT: examines $work/NAME.txt, its report in $work/NAME-report.txt, and prints one
# line: the records, the report's lines and size, the seconds taken and the peak.
peak() {
  local report="$work/$1-report.txt" rc=0
  /usr/bin/time -v "$cli" examine --company "$work/co" --report "$report" "$work/$1.txt" \
    >/dev/null 2>"$work/$1.err" || rc=$?
  # Examine ends with 1 when it rejects records; anything else is a failure of the run.
  if [ "$rc" != 1 ] || ! grep -q "0 accepted, $2 rejected" "$work/$1.err"; then
    echo "$1: examine ended with $rc:" >&2
    tail -5 "$work/$1.err" >&2
    exit 2
  fi
  local kb seconds lines bytes
  kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/$1.err")
  seconds=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/$1.err")
  lines=$(wc -l <"$report")
  bytes=$(wc -c <"$report")
  printf '%-12s %9s records, report %9s lines %6s MB, %8s, peak %4s MB\n' "$1:" "$2" "$lines" \
    "$((bytes / 1048576))" "$seconds" "$((kb / 1024))"
  rm -f "$report" "$work/$1.txt"
}

text columns "$records" '6,%07d'
peak columns "$records"
text semicolons "$many" '6;%07d;Cash;1'
peak semicolons "$many"
