#!/usr/bin/env bash
# Compares the PM property conversion of 1,000 properties and N generated units (default
# 1,000,000, all accepted; converted with the unit counts and unit history checked after the
# records) into an empty company, examined and converted, with `sqlite3 .import` of the same unit
# rows into a table keyed by property and unit.
# usage: bench/run_pmp.sh [units] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
units="${1:-1000000}"
bench_runs bench_pmp "$units" "${2:-build}"
bench_import units "$units" \
  'CREATE TABLE units(UPROP TEXT, UNIT TEXT, UCLASS TEXT, UOCC TEXT, ULESED TEXT, UCURLES TEXT, UCURREV TEXT, UCURTEN TEXT, PRIMARY KEY (UPROP, UNIT));'
bench_report units "$units" '1.0' '2.0'
