#!/usr/bin/env bash
# Compares the CM bank-account conversion of N generated banks (default 1,000,000; a small GL
# chart converted first, not timed), examined and converted, with `sqlite3 .import` of the same
# bank rows into a table keyed by the bank account. Convert also writes each bank's last-numbers
# record.
# usage: bench/run_cmm.sh [banks] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
banks="${1:-1000000}"
bench_runs bench_cmm "$banks" "${2:-build}"
bench_import banks "$banks" \
  'CREATE TABLE banks(BANKACC TEXT PRIMARY KEY, BINTCMP INTEGER, BCASH TEXT, BLSTCHK INTEGER);'
bench_report banks "$banks" '1.0' '2.0'
