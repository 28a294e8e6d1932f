#!/usr/bin/env bash
# The floor of the AP invoice conversion on this machine, against the same `sqlite3 .import` as
# run_api.sh: the records a Convert of N generated invoice groups (default 1,000,000) wrote,
# written again by a bare program (prepared inserts in one transaction per file, the same tables
# and indexes), and the text file read twice by the import library alone (Examine's two passes).
# Our own Examine and Convert of the same text run alongside, for the same load.
# usage: bench/floor_api.sh [invoices] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
invoices="${1:-1000000}"
build="${2:-build}"
if [ ! -x "$build/bench/bench_api_floor" ]; then
  cmake --build "$build" --target bench_api_floor >/dev/null
fi
bench_runs bench_api "$invoices" "$build"
floor=$("$build/bench/bench_api_floor" write "$work/convert" "$work/floor" "$invoices" 2>/dev/null)
read=$("$build/bench/bench_api_floor" read "$work/api.txt" "$work/read")
bench_import invoices "$invoices" \
  'CREATE TABLE invoices(OIVND TEXT, OIINV TEXT, OIDESC TEXT, OIDATE TEXT, OIAMT INTEGER,
                        PRIMARY KEY (OIVND, OIINV));'
line() { printf '%-44s %7.2f s, ratio %s\n' "$1" "$2" "$(ratio "$2" "$theirs")"; }
printf 'invoice groups:   %s\n' "$invoices"
printf 'sqlite3 .import:  %.2f s\n' "$theirs"
line 'floor, text read twice (import library):' "$(value "$read" read_twice_seconds)"
line 'floor, stored rows only read again:' "$(value "$floor" scan_seconds)"
line 'floor, rows written, indexes standing:' "$(value "$floor" live_seconds)"
line 'floor, rows written, indexes made after:' "$(value "$floor" after_seconds)"
line 'floor, + vendor and 1099 totals per group:' "$(value "$floor" pergroup_seconds)"
# The bare program reads the stored rows as it writes them: that reading is no part of the floor.
line 'floor, rows written, less reading them:' \
  "$(awk -v a="$(value "$floor" after_seconds)" -v b="$(value "$floor" scan_seconds)" 'BEGIN { print a - b }')"
line 'Examine Files:' "$(value "$examine" seconds)"
line 'Convert:' "$(value "$convert" seconds)"
