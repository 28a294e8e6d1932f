#!/usr/bin/env bash
# Compares the CM bank-account conversion of N generated banks (default 1,000,000; a small GL
# chart converted first, not timed), examined and converted, with `sqlite3 .import` of the same
# bank rows into a table keyed by the bank account. Convert also writes each bank's last-numbers
# record.
# usage: bench/run_cmm.sh [banks] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
banks="${1:-1000000}"
build="${2:-build}"
bin="$build/bench/bench_cmm"
if [ ! -x "$bin" ]; then
  cmake --build "$build" --target bench_cmm >/dev/null
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

examine=$("$bin" examine "$banks" "$work")
convert=$("$bin" convert "$banks" "$work")
value() { printf '%s\n' "$1" | sed -n "s/^$2=//p"; }

start=$(date +%s.%N)
sqlite3 "$work/import.db" <<SQL
CREATE TABLE banks(BANKACC TEXT PRIMARY KEY, BINTCMP INTEGER, BCASH TEXT, BLSTCHK INTEGER);
.mode csv
.import $work/banks.csv banks
SQL
end=$(date +%s.%N)
theirs=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
rows=$(sqlite3 "$work/import.db" "SELECT count(*) FROM banks")
[ "$rows" = "$banks" ] || { echo "sqlite3 .import stored $rows rows, expected $banks" >&2; exit 2; }
[ "$(value "$convert" rejected)" = 0 ] || { echo "the conversion rejected records" >&2; exit 2; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf 'banks:            %s (records read: %s)\n' "$banks" "$(value "$convert" records)"
printf 'sqlite3 .import:  %.2f s\n' "$theirs"
printf 'Examine Files:    %.2f s, ratio %s (target at most 1.0), peak %s MB\n' "$(value "$examine" seconds)" \
  "$(ratio "$(value "$examine" seconds)" "$theirs")" "$(( $(value "$examine" max_rss_kb) / 1024 ))"
printf 'Convert:          %.2f s, ratio %s (target at most 2.0), peak %s MB\n' "$(value "$convert" seconds)" \
  "$(ratio "$(value "$convert" seconds)" "$theirs")" "$(( $(value "$convert" max_rss_kb) / 1024 ))"
