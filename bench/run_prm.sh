#!/usr/bin/env bash
# Compares the PR employee conversion of N generated employees (default 1,000,000; the company
# seeded with one pay group, one work state and its FWH statuses), examined and converted, with
# `sqlite3 .import` of the same employee rows into a table keyed by the employee id.
# usage: bench/run_prm.sh [employees] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
employees="${1:-1000000}"
build="${2:-build}"
bin="$build/bench/bench_prm"
if [ ! -x "$bin" ]; then
  cmake --build "$build" --target bench_prm >/dev/null
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

examine=$("$bin" examine "$employees" "$work")
convert=$("$bin" convert "$employees" "$work")
value() { printf '%s\n' "$1" | sed -n "s/^$2=//p"; }

start=$(date +%s.%N)
sqlite3 "$work/import.db" <<SQL
CREATE TABLE employees(EMPID TEXT PRIMARY KEY, ENAME TEXT, ESSN INTEGER, EPGID TEXT, ERES2 TEXT, EWORK2 TEXT, EFSTAT TEXT);
.mode csv
.import $work/employees.csv employees
SQL
end=$(date +%s.%N)
theirs=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
rows=$(sqlite3 "$work/import.db" "SELECT count(*) FROM employees")
[ "$rows" = "$employees" ] || { echo "sqlite3 .import stored $rows rows, expected $employees" >&2; exit 2; }
[ "$(value "$convert" rejected)" = 0 ] || { echo "the conversion rejected records" >&2; exit 2; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf 'employees:        %s (records read: %s)\n' "$employees" "$(value "$convert" records)"
printf 'sqlite3 .import:  %.2f s\n' "$theirs"
printf 'Examine Files:    %.2f s, ratio %s (target at most 1.0), peak %s MB\n' "$(value "$examine" seconds)" \
  "$(ratio "$(value "$examine" seconds)" "$theirs")" "$(( $(value "$examine" max_rss_kb) / 1024 ))"
printf 'Convert:          %.2f s, ratio %s (target at most 2.0), peak %s MB\n' "$(value "$convert" seconds)" \
  "$(ratio "$(value "$convert" seconds)" "$theirs")" "$(( $(value "$convert" max_rss_kb) / 1024 ))"
