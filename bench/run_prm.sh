#!/usr/bin/env bash
# Compares the PR employee conversion of N generated employees (default 1,000,000; the company
# seeded with one pay group, one work state and its FWH statuses), examined and converted, with
# `sqlite3 .import` of the same employee rows into a table keyed by the employee id.
# With --children: N records 2 to 6 (N/5 employees on file, five records each: work state, pay,
# tax, deduction, fringe) against `sqlite3 .import` into a table keyed by employee, record type
# and id.
# usage: bench/run_prm.sh [records] [--children] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
records="${1:-1000000}"
shift || true
children=()
if [ "${1:-}" = "--children" ]; then
  children=(--children)
  shift
fi
bench_runs bench_prm "$records" "${1:-build}" "${children[@]}"
if [ ${#children[@]} -gt 0 ]; then
  bench_import children "$records" \
    'CREATE TABLE children(EMP TEXT, REC INTEGER, ID TEXT, VALUE TEXT, PRIMARY KEY(EMP, REC, ID));'
  bench_report 'employee records' "$records" '1.0' '2.0'
else
  bench_import employees "$records" \
    'CREATE TABLE employees(EMPID TEXT PRIMARY KEY, ENAME TEXT, ESSN INTEGER, EPGID TEXT, ERES2 TEXT, EWORK2 TEXT, EFSTAT TEXT);'
  bench_report employees "$records" '1.0' '2.0'
fi
