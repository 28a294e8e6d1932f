#!/usr/bin/env bash
# Compares the GL transaction conversion of N generated transactions (default 1,000,000) on a
# generated chart of about 1,000 accounts (converted first, not timed), examined and converted,
# with `sqlite3 .import` of the same rows (with their run and sequence numbers) into a table keyed
# by run and sequence.
# usage: bench/run_glt.sh [transactions] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
count="${1:-1000000}"
build="${2:-build}"
bin="$build/bench/bench_glt"
if [ ! -x "$bin" ]; then
  cmake --build "$build" --target bench_glt >/dev/null
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

examine=$("$bin" examine "$count" "$work")
convert=$("$bin" convert "$count" "$work")
value() { printf '%s\n' "$1" | sed -n "s/^$2=//p"; }

start=$(date +%s.%N)
sqlite3 "$work/import.db" <<SQL
CREATE TABLE transactions(TRUN INTEGER, TSEQ INTEGER, TACCT TEXT, TACCTDT TEXT, TAORC INTEGER, TDEBIT REAL,
                          TCREDIT REAL, TDRCR INTEGER, PRIMARY KEY(TRUN, TSEQ));
.mode csv
.import $work/transactions.csv transactions
SQL
end=$(date +%s.%N)
theirs=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
rows=$(sqlite3 "$work/import.db" "SELECT count(*) FROM transactions")
[ "$rows" = "$count" ] || { echo "sqlite3 .import stored $rows rows, expected $count" >&2; exit 2; }
[ "$(value "$convert" rejected)" = 0 ] || { echo "the conversion rejected records" >&2; exit 2; }
[ "$(value "$examine" rejected)" = 0 ] || { echo "the examination rejected records" >&2; exit 2; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf 'transactions:     %s (records read: %s)\n' "$count" "$(value "$convert" records)"
printf 'sqlite3 .import:  %.2f s\n' "$theirs"
printf 'Examine Files:    %.2f s, ratio %s (target at most 1.0), peak %s MB\n' "$(value "$examine" seconds)" \
  "$(ratio "$(value "$examine" seconds)" "$theirs")" "$(( $(value "$examine" max_rss_kb) / 1024 ))"
printf 'Convert:          %.2f s, ratio %s (target at most 2.0), peak %s MB\n' "$(value "$convert" seconds)" \
  "$(ratio "$(value "$convert" seconds)" "$theirs")" "$(( $(value "$convert" max_rss_kb) / 1024 ))"
