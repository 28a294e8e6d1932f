#!/usr/bin/env bash
# Compares writing N records (default 1,000,000) through the data-file library with
# `sqlite3 .import` of the same rows into a table with the same two unique keys.
# usage: bench/run_datafile_write.sh [records] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
records="${1:-1000000}"
build="${2:-build}"
bin="$build/bench/bench_datafile_write"
if [ ! -x "$bin" ]; then
  cmake --build "$build" --target bench_datafile_write >/dev/null
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

ours=$("$bin" "$records" "$work" | sed -n 's/^xio_seconds=//p')

start=$(date +%s.%N)
sqlite3 "$work/import.db" <<SQL
CREATE TABLE r1(CODE TEXT COLLATE NOCASE NOT NULL, ALTCODE TEXT COLLATE NOCASE NOT NULL, NAME TEXT COLLATE NOCASE NOT NULL,
                CITY TEXT COLLATE NOCASE NOT NULL, AMOUNT REAL NOT NULL, COUNT REAL NOT NULL, OPENED INTEGER NOT NULL,
                ACTIVE INTEGER NOT NULL);
CREATE UNIQUE INDEX k0 ON r1(CODE);
CREATE UNIQUE INDEX k1 ON r1(ALTCODE);
.mode csv
.import $work/rows.csv r1
SQL
end=$(date +%s.%N)
theirs=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
rows=$(sqlite3 "$work/import.db" "SELECT count(*) FROM r1")
[ "$rows" = "$records" ] || { echo "sqlite3 .import stored $rows rows, expected $records" >&2; exit 2; }

printf 'records:          %s\n' "$records"
printf 'xio write:        %.2f s\n' "$ours"
printf 'sqlite3 .import:  %.2f s\n' "$theirs"
printf 'ratio:            %.2f (target at most 1.50)\n' "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { print a / b }')"
