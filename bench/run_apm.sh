#!/usr/bin/env bash
# Compares the AP vendor conversion of N generated vendors (default 1,000,000; each with a debit
# account, a standard phase and a tax group on file) into a company without vendors, examined
# and converted, with `sqlite3 .import` of the same vendor rows into a table keyed by VENDOR.
# usage: bench/run_apm.sh [vendors] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
vendors="${1:-1000000}"
bench_runs bench_apm "$vendors" "${2:-build}"
bench_import vendors "$vendors" \
  'CREATE TABLE vendors(VENDOR TEXT PRIMARY KEY, VNAME TEXT, VADDR1 TEXT, VCITY TEXT, VSTATE TEXT,
                       VZIP TEXT, VGLEXP TEXT, VJCPHS TEXT, VTAXGRP TEXT);'
bench_report vendors "$vendors" '1.0' '2.0'
