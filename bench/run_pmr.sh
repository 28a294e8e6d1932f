#!/usr/bin/env bash
# Compares the PM retail conversion of N generated percent rent controls (default 1,000,000, all
# accepted, each with its "Total" sales category when converted) into a company holding only
# their leases and charge type, examined and converted, with `sqlite3 .import` of the same
# control rows into a table keyed by lease and revision.
# usage: bench/run_pmr.sh [controls] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
controls="${1:-1000000}"
bench_runs bench_pmr "$controls" "${2:-build}"
bench_import controls "$controls" \
  'CREATE TABLE controls(PRLEASE TEXT, PRREV INTEGER, PRFCYE TEXT, PROVSD TEXT, PROVTD TEXT, PRRETM INTEGER, PRSTORE TEXT, PRBFREQ INTEGER, PRRECFQ INTEGER, PRNBD TEXT, PRNRD TEXT, PRBCT TEXT, PRRCT TEXT, C14 TEXT, C15 TEXT, C16 TEXT, C17 TEXT, C18 TEXT, C19 TEXT, C20 TEXT, C21 TEXT, C22 TEXT, C23 TEXT, C24 TEXT, C25 TEXT, C26 TEXT, C27 TEXT, C28 TEXT, C29 TEXT, C30 TEXT, C31 TEXT, C32 TEXT, C33 TEXT, C34 TEXT, C35 TEXT, C36 TEXT, C37 TEXT, C38 TEXT, C39 TEXT, C40 TEXT, C41 TEXT, C42 TEXT, C43 TEXT, C44 TEXT, C45 TEXT, C46 TEXT, C47 TEXT, PRIMARY KEY (PRLEASE, PRREV));'
bench_report controls "$controls" '1.0' '2.0'
printf 'Before the runs:  peak %s MB (the leases written)\n' "$(( $(value "$convert" setup_rss_kb) / 1024 ))"
