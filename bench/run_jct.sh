#!/usr/bin/env bash
# Compares the JC transaction conversion of N generated transactions (default 1,000,000) over
# 1,000 jobs with their standard categories (written first, not timed), examined and converted,
# with `sqlite3 .import` of the same rows (with their run and sequence numbers) into a table keyed
# by run and sequence.
# usage: bench/run_jct.sh [transactions] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
count="${1:-1000000}"
bench_runs bench_jct "$count" "${2:-build}"
bench_import transactions "$count" \
  'CREATE TABLE transactions(TRUN INTEGER, TSEQ INTEGER, TJOB TEXT, TEXTRA TEXT, TPHASE TEXT, TCAT TEXT,
                            TRANTYP INTEGER, TRANDAT TEXT, TACTDAT TEXT, TDESC TEXT, TAMOUNT REAL, TUNITS REAL,
                            PRIMARY KEY(TRUN, TSEQ));'
[ "$(value "$examine" rejected)" = 0 ] || { echo "the examination rejected records" >&2; exit 2; }
bench_report transactions "$count" '1.0' '2.0'
