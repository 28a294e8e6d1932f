#!/usr/bin/env bash
# Compares the PM transaction conversion of N generated sales-volume transactions (default
# 1,000,000, over a few hundred leases seeded first) through both passes, examined and converted,
# with `sqlite3 .import` of the same rows into a table with the same key (run and sequence).
# usage: bench/run_pmt.sh [transactions] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
count="${1:-1000000}"
bench_runs bench_pmt "$count" "${2:-build}"
bench_import sales "$count" \
  'CREATE TABLE sales(SVRUN INTEGER, SVSEQ INTEGER, SVPROP TEXT, SVUNIT TEXT, SVTEN TEXT, SVLEASE TEXT,
                     SVREV INTEGER, SVRDATE TEXT, SVTDATE TEXT, SVSDATE TEXT, SVVOL REAL, SVTYPE INTEGER,
                     SVSTYPE TEXT, SVSCAT TEXT, SVBATCH TEXT, PRIMARY KEY (SVRUN, SVSEQ));'
bench_report transactions "$count" '1.5' '3.0'
