#!/usr/bin/env bash
# Times the vendor totals rebuild of an AP invoice Convert that clears the paid totals: N invoices
# (default 100,000) on file, each with its distribution and a payment, K to a vendor (default 1),
# and a text file without groups. Examine Files runs the same file without the rebuild; the
# difference is the rebuild's cost. Both against `sqlite3 .import` of the N invoice rows.
# usage: bench/run_api_totals.sh [invoices] [build folder] [invoices per vendor]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
invoices="${1:-100000}"
bench_runs bench_api_totals "$invoices" "${2:-build}" "${3:-1}"
bench_import invoices "$invoices" \
  'CREATE TABLE invoices(OIVND TEXT, OIINV TEXT, OIAMT INTEGER, PRIMARY KEY (OIVND, OIINV));'
bench_report invoices "$invoices" '-' '-'
rebuild=$(awk -v a="$(value "$convert" seconds)" -v b="$(value "$examine" seconds)" 'BEGIN { printf "%.2f", a - b }')
printf 'Rebuild:          %s s (Convert less Examine Files), ratio %s\n' "$rebuild" "$(ratio "$rebuild" "$theirs")"
