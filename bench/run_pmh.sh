#!/usr/bin/env bash
# Compares the PM history transaction conversion of N generated transactions (default 1,000,000,
# over a few hundred leases seeded first) through both passes, examined and converted, with
# `sqlite3 .import` of the same rows into a table with the same key: the lines and the import
# of bench/run_pmt.sh, converted into the history transaction file.
# usage: bench/run_pmh.sh [transactions] [build folder] [sales|flows]
set -euo pipefail
DZ_BENCH_PMT_PROGRAM=bench_pmh exec "$(dirname "$0")/run_pmt.sh" "$@"
