#!/usr/bin/env bash
# Compares the PM issues conversion of N generated issues (default 1,000,000, all accepted, none
# naming a PM record) into an empty issues file, examined and converted, with `sqlite3 .import`
# of the same issue rows into a table keyed by issue number. Then, without a target, the convert
# run where every issue links to one property (three writes per issue).
# usage: bench/run_pmz.sh [issues] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
issues="${1:-1000000}"
bench_runs bench_pmz "$issues" "${2:-build}"
bench_import issues "$issues" \
  'CREATE TABLE issues(ISSUE INTEGER PRIMARY KEY, FORMESS TEXT, CLASSIF TEXT, URGENCY TEXT, FOLLOWU TEXT, STATUS TEXT, PROBLEM TEXT, R1ODBC TEXT, ASSIGN TEXT, OPENDT TEXT, PMPROP TEXT, PMUNIT TEXT, PMTENAN TEXT, PMREV TEXT, PMLEASE TEXT, CLOSED TEXT, NOTIFY TEXT, COST TEXT, PRIORTY TEXT, SOURCE TEXT, CHANNEL TEXT, PRTSEQ TEXT, NOTES TEXT, NOPROP TEXT);'
bench_report issues "$issues" '1.0' '2.0'
linked=$("${2:-build}/bench/bench_pmz" convert "$issues" "$work/linked" linked)
printf 'Convert, linked:  %.2f s, ratio %s (no target), peak %s MB\n' "$(value "$linked" seconds)" \
  "$(ratio "$(value "$linked" seconds)" "$theirs")" "$(( $(value "$linked" max_rss_kb) / 1024 ))"
