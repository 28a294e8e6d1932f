#!/usr/bin/env bash
# Compares the AP invoice conversion of N generated invoice groups (default 1,000,000; each an
# invoice, two distributions and a distribution payment, with a check group per ten invoices, so
# that the cross-reference pass runs) into a company without invoices, examined and converted,
# with `sqlite3 .import` of the invoice rows into a table keyed by vendor and invoice.
# usage: bench/run_api.sh [invoices] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
invoices="${1:-1000000}"
bench_runs bench_api "$invoices" "${2:-build}"
bench_import invoices "$invoices" \
  'CREATE TABLE invoices(OIVND TEXT, OIINV TEXT, OIDESC TEXT, OIDATE TEXT, OIAMT INTEGER,
                        PRIMARY KEY (OIVND, OIINV));'
bench_report invoices "$invoices" '1.5' '3.0'
