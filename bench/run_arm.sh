#!/usr/bin/env bash
# Compares the AR conversion of N generated customers (default 1,000,000) naming N/10 contacts
# of the same text file (half of the contacts before their customers, half after), examined
# and converted into an empty company through dodedoz-cli, with `sqlite3 .import` of the same
# customer rows into a table keyed on CUST. Both passes of the conversion are in its time.
# usage: bench/run_arm.sh [customers] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
customers="${1:-1000000}"
build="${2:-build}"
cli="$build/bin/dodedoz-cli"
if [ ! -x "$cli" ]; then
  cmake --build "$build" --target dodedoz-cli >/dev/null
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

contacts=$(( customers / 10 > 0 ? customers / 10 : 1 ))
# 42 customer columns after the format id, then the notes column: the name, the first contact,
# the customer type and the history-totals switch filled.
awk -v n="$customers" -v c="$contacts" -v text="$work/customers.txt" -v csv="$work/customers.csv" 'BEGIN {
  print "#,ARM,xvarm" > text
  for (i = 1; i <= c / 2; i++) printf "CONT,C%07d,Contact %d,K%08d,Primary,\n", i, i, i > text
  for (i = 1; i <= n; i++) {
    j = (i - 1) % c + 1
    printf "CUST,K%08d,Customer %d,C%07d,,,,,,,,,,,Commercial,General,Good,Monthly,,,,,,,,,1,,,,,,,,,,,,,,,,,\n", i, i, j > text
    printf "K%08d,Customer %d,C%07d\n", i, i, j > csv
  }
  for (i = int(c / 2) + 1; i <= c; i++) printf "CONT,C%07d,Contact %d,K%08d,Primary,\n", i, i, i > text
}'

run() {  # command -> "seconds max_rss_kb"
  local company="$work/co-$1"
  "$cli" company init "$company" >/dev/null
  cp "$work/customers.txt" "$work/$1.txt"
  local status=0
  /usr/bin/time -f '%e %M' -o "$work/$1.time" "$cli" "$1" --company "$company" --report "$work/$1.report" \
    --notes "$work/$1.notes" "$work/$1.txt" 2>"$work/$1.err" || status=$?
  if [ "$status" -ne 0 ]; then
    echo "dodedoz-cli $1 ended with status $status:" >&2
    cat "$work/$1.err" >&2
    exit 2
  fi
  cat "$work/$1.time"
}
examine=$(run examine)
convert=$(run convert)

start=$(date +%s.%N)
sqlite3 "$work/import.db" <<SQL
CREATE TABLE customers(CUST TEXT PRIMARY KEY, CNAME TEXT, CCONT1 TEXT);
.mode csv
.import $work/customers.csv customers
SQL
end=$(date +%s.%N)
theirs=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
rows=$(sqlite3 "$work/import.db" "SELECT count(*) FROM customers")
[ "$rows" = "$customers" ] || { echo "sqlite3 .import stored $rows rows, expected $customers" >&2; exit 2; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
set -- $examine; es=$1; em=$2
set -- $convert; cs=$1; cm=$2
printf 'customers:        %s, contacts %s\n' "$customers" "$contacts"
printf 'sqlite3 .import:  %.2f s\n' "$theirs"
printf 'Examine Files:    %.2f s, ratio %s (target at most 1.5), peak %s MB\n' "$es" "$(ratio "$es" "$theirs")" "$(( em / 1024 ))"
printf 'Convert:          %.2f s, ratio %s (target at most 3.0), peak %s MB\n' "$cs" "$(ratio "$cs" "$theirs")" "$(( cm / 1024 ))"
