#!/usr/bin/env bash
# Compares the PR employee conversion of N generated employees (default 1,000,000; the company
# seeded with one pay group, one work state and its FWH statuses), examined and converted, with
# `sqlite3 .import` of the same employee rows into a table keyed by the employee id.
# usage: bench/run_prm.sh [employees] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
employees="${1:-1000000}"
bench_runs bench_prm "$employees" "${2:-build}"
bench_import employees "$employees" \
  'CREATE TABLE employees(EMPID TEXT PRIMARY KEY, ENAME TEXT, ESSN INTEGER, EPGID TEXT, ERES2 TEXT, EWORK2 TEXT, EFSTAT TEXT);'
bench_report employees "$employees" '1.0' '2.0'
