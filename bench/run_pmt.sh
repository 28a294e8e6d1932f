#!/usr/bin/env bash
# Compares the PM transaction conversion of N generated sales-volume transactions (default
# 1,000,000, over a few hundred leases seeded first) through both passes, examined and converted,
# with `sqlite3 .import` of the same rows into a table with the same key (run and sequence).
# usage: bench/run_pmt.sh [transactions] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
count="${1:-1000000}"
build="${2:-build}"
bin="$build/bench/bench_pmt"
if [ ! -x "$bin" ]; then
  cmake --build "$build" --target bench_pmt >/dev/null
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

examine=$("$bin" examine "$count" "$work")
convert=$("$bin" convert "$count" "$work")
value() { printf '%s\n' "$1" | sed -n "s/^$2=//p"; }

start=$(date +%s.%N)
sqlite3 "$work/import.db" <<SQL
CREATE TABLE sales(SVRUN INTEGER, SVSEQ INTEGER, SVPROP TEXT, SVUNIT TEXT, SVTEN TEXT, SVLEASE TEXT,
                   SVREV INTEGER, SVRDATE TEXT, SVTDATE TEXT, SVSDATE TEXT, SVVOL REAL, SVTYPE INTEGER,
                   SVSTYPE TEXT, SVSCAT TEXT, SVBATCH TEXT, PRIMARY KEY (SVRUN, SVSEQ));
.mode csv
.import $work/sales.csv sales
SQL
end=$(date +%s.%N)
theirs=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
rows=$(sqlite3 "$work/import.db" "SELECT count(*) FROM sales")
[ "$rows" = "$count" ] || { echo "sqlite3 .import stored $rows rows, expected $count" >&2; exit 2; }
[ "$(value "$convert" rejected)" = 0 ] || { echo "the conversion rejected records" >&2; exit 2; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf 'transactions:     %s (records read: %s)\n' "$count" "$(value "$convert" records)"
printf 'sqlite3 .import:  %.2f s\n' "$theirs"
printf 'Examine Files:    %.2f s, ratio %s (target at most 1.5), peak %s MB\n' "$(value "$examine" seconds)" \
  "$(ratio "$(value "$examine" seconds)" "$theirs")" "$(( $(value "$examine" max_rss_kb) / 1024 ))"
printf 'Convert:          %.2f s, ratio %s (target at most 3.0), peak %s MB\n' "$(value "$convert" seconds)" \
  "$(ratio "$(value "$convert" seconds)" "$theirs")" "$(( $(value "$convert" max_rss_kb) / 1024 ))"
