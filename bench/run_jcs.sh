#!/usr/bin/env bash
# Compares the JC standards conversion of N generated standard phases (default 1,000,000) with
# three-section cost codes (groups first) into an empty company, examined and converted, with
# `sqlite3 .import` of the same rows into a table keyed by the cost code.
# usage: bench/run_jcs.sh [phases] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
phases="${1:-1000000}"
build="${2:-build}"
bin="$build/bench/bench_jcs"
if [ ! -x "$bin" ]; then
  cmake --build "$build" --target bench_jcs >/dev/null
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

examine=$("$bin" examine "$phases" "$work")
convert=$("$bin" convert "$phases" "$work")
value() { printf '%s\n' "$1" | sed -n "s/^$2=//p"; }

start=$(date +%s.%N)
sqlite3 "$work/import.db" <<SQL
CREATE TABLE phases(SPHASE TEXT PRIMARY KEY, SPDESC TEXT);
.mode csv
.import $work/phases.csv phases
SQL
end=$(date +%s.%N)
theirs=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
rows=$(sqlite3 "$work/import.db" "SELECT count(*) FROM phases")
[ "$rows" = "$phases" ] || { echo "sqlite3 .import stored $rows rows, expected $phases" >&2; exit 2; }
[ "$(value "$convert" rejected)" = 0 ] || { echo "the conversion rejected records" >&2; exit 2; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf 'phases:           %s (records read: %s)\n' "$phases" "$(value "$convert" records)"
printf 'sqlite3 .import:  %.2f s\n' "$theirs"
printf 'Examine Files:    %.2f s, ratio %s (target at most 1.0), peak %s MB\n' "$(value "$examine" seconds)" \
  "$(ratio "$(value "$examine" seconds)" "$theirs")" "$(( $(value "$examine" max_rss_kb) / 1024 ))"
printf 'Convert:          %.2f s, ratio %s (target at most 2.0), peak %s MB\n' "$(value "$convert" seconds)" \
  "$(ratio "$(value "$convert" seconds)" "$theirs")" "$(( $(value "$convert" max_rss_kb) / 1024 ))"
