#!/usr/bin/env bash
# Compares the AP vendor conversion of N generated vendors (default 1,000,000; each with a debit
# account, a standard phase and a tax group on file) into a company without vendors, examined
# and converted, with `sqlite3 .import` of the same vendor rows into a table keyed by VENDOR.
# usage: bench/run_apm.sh [vendors] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
vendors="${1:-1000000}"
build="${2:-build}"
bin="$build/bench/bench_apm"
if [ ! -x "$bin" ]; then
  cmake --build "$build" --target bench_apm >/dev/null
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

examine=$("$bin" examine "$vendors" "$work")
convert=$("$bin" convert "$vendors" "$work")
value() { printf '%s\n' "$1" | sed -n "s/^$2=//p"; }

start=$(date +%s.%N)
sqlite3 "$work/import.db" <<SQL
CREATE TABLE vendors(VENDOR TEXT PRIMARY KEY, VNAME TEXT, VADDR1 TEXT, VCITY TEXT, VSTATE TEXT,
                     VZIP TEXT, VGLEXP TEXT, VJCPHS TEXT, VTAXGRP TEXT);
.mode csv
.import $work/vendors.csv vendors
SQL
end=$(date +%s.%N)
theirs=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
rows=$(sqlite3 "$work/import.db" "SELECT count(*) FROM vendors")
[ "$rows" = "$vendors" ] || { echo "sqlite3 .import stored $rows rows, expected $accounts" >&2; exit 2; }
[ "$(value "$convert" rejected)" = 0 ] || { echo "the conversion rejected records" >&2; exit 2; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf 'vendors:          %s (records read: %s)\n' "$vendors" "$(value "$convert" records)"
printf 'sqlite3 .import:  %.2f s\n' "$theirs"
printf 'Examine Files:    %.2f s, ratio %s (target at most 1.0), peak %s MB\n' "$(value "$examine" seconds)" \
  "$(ratio "$(value "$examine" seconds)" "$theirs")" "$(( $(value "$examine" max_rss_kb) / 1024 ))"
printf 'Convert:          %.2f s, ratio %s (target at most 2.0), peak %s MB\n' "$(value "$convert" seconds)" \
  "$(ratio "$(value "$convert" seconds)" "$theirs")" "$(( $(value "$convert" max_rss_kb) / 1024 ))"
