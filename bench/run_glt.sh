#!/usr/bin/env bash
# Compares the GL transaction conversion of N generated transactions (default 1,000,000) on a
# generated chart of about 1,000 accounts (converted first, not timed), examined and converted,
# with `sqlite3 .import` of the same rows (with their run and sequence numbers) into a table keyed
# by run and sequence.
# usage: bench/run_glt.sh [transactions] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
count="${1:-1000000}"
bench_runs bench_glt "$count" "${2:-build}"
bench_import transactions "$count" \
  'CREATE TABLE transactions(TRUN INTEGER, TSEQ INTEGER, TACCT TEXT, TACCTDT TEXT, TAORC INTEGER, TDEBIT REAL,
                            TCREDIT REAL, TDRCR INTEGER, PRIMARY KEY(TRUN, TSEQ));'
[ "$(value "$examine" rejected)" = 0 ] || { echo "the examination rejected records" >&2; exit 2; }
bench_report transactions "$count" '1.0' '2.0'
