#!/usr/bin/env bash
# Compares the GL master conversion of N generated accounts (default 1,000,000; base accounts
# and prefixes first) into an empty company, examined and converted, with `sqlite3 .import` of
# the same account rows into a table with the same key.
# usage: bench/run_glm.sh [accounts] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
accounts="${1:-1000000}"
build="${2:-build}"
bin="$build/bench/bench_glm"
if [ ! -x "$bin" ]; then
  cmake --build "$build" --target bench_glm >/dev/null
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

examine=$("$bin" examine "$accounts" "$work")
convert=$("$bin" convert "$accounts" "$work")
value() { printf '%s\n' "$1" | sed -n "s/^$2=//p"; }

start=$(date +%s.%N)
sqlite3 "$work/import.db" <<SQL
CREATE TABLE accounts(AACCT TEXT PRIMARY KEY, ACRBAL REAL, ACCRBAL REAL);
.mode csv
.import $work/accounts.csv accounts
SQL
end=$(date +%s.%N)
theirs=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
rows=$(sqlite3 "$work/import.db" "SELECT count(*) FROM accounts")
[ "$rows" = "$accounts" ] || { echo "sqlite3 .import stored $rows rows, expected $accounts" >&2; exit 2; }
[ "$(value "$convert" rejected)" = 0 ] || { echo "the conversion rejected records" >&2; exit 2; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf 'accounts:         %s (records read: %s)\n' "$accounts" "$(value "$convert" records)"
printf 'sqlite3 .import:  %.2f s\n' "$theirs"
printf 'Examine Files:    %.2f s, ratio %s (target at most 0.6), peak %s MB\n' "$(value "$examine" seconds)" \
  "$(ratio "$(value "$examine" seconds)" "$theirs")" "$(( $(value "$examine" max_rss_kb) / 1024 ))"
printf 'Convert:          %.2f s, ratio %s (target at most 1.3), peak %s MB\n' "$(value "$convert" seconds)" \
  "$(ratio "$(value "$convert" seconds)" "$theirs")" "$(( $(value "$convert" max_rss_kb) / 1024 ))"
