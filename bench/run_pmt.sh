#!/usr/bin/env bash
# Compares the PM transaction conversion of N generated transactions (default 1,000,000, over a
# few hundred leases seeded first) through both passes, examined and converted, with
# `sqlite3 .import` of the same rows into a table with the same key.
#   sales  sales volumes (the default)
#   flows  charge flows and misc incomes with their payments and later members of a payment ID
# usage: bench/run_pmt.sh [transactions] [build folder] [sales|flows]
# (bench/run_pmh.sh runs the same lines through the history converter, DZ_BENCH_PMT_PROGRAM)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
count="${1:-1000000}"
kind="${3:-sales}"
export DZ_BENCH_PMT_KIND="$kind"
bench_runs "${DZ_BENCH_PMT_PROGRAM:-bench_pmt}" "$count" "${2:-build}"
if [ "$kind" = flows ]; then
  columns=""
  for i in $(seq 1 40); do columns="$columns, c$i TEXT"; done
  bench_import flows "$count" "CREATE TABLE flows(line INTEGER PRIMARY KEY$columns);"
else
  bench_import sales "$count" \
    'CREATE TABLE sales(SVRUN INTEGER, SVSEQ INTEGER, SVPROP TEXT, SVUNIT TEXT, SVTEN TEXT, SVLEASE TEXT,
                       SVREV INTEGER, SVRDATE TEXT, SVTDATE TEXT, SVSDATE TEXT, SVVOL REAL, SVTYPE INTEGER,
                       SVSTYPE TEXT, SVSCAT TEXT, SVBATCH TEXT, PRIMARY KEY (SVRUN, SVSEQ));'
fi
bench_report transactions "$count" '1.5' '3.0'
