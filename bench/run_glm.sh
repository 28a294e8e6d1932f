#!/usr/bin/env bash
# Compares the GL master conversion of N generated accounts (default 1,000,000; base accounts
# and prefixes first) into an empty company, examined and converted, with `sqlite3 .import` of
# the same account rows into a table with the same key.
# usage: bench/run_glm.sh [accounts] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
accounts="${1:-1000000}"
bench_runs bench_glm "$accounts" "${2:-build}"
bench_import accounts "$accounts" \
  'CREATE TABLE accounts(AACCT TEXT PRIMARY KEY, ACRBAL REAL, ACCRBAL REAL);'
bench_report accounts "$accounts" '0.6' '1.3'
