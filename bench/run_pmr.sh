#!/usr/bin/env bash
# Compares the PM retail conversion of N generated percent rent controls (default 1,000,000, all
# accepted, each with its "Total" sales category when converted) into a company holding only
# their leases and charge type, examined and converted, with `sqlite3 .import` of the same
# control rows into a table keyed by lease and revision.
# usage: bench/run_pmr.sh [controls] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
controls="${1:-1000000}"
build="${2:-build}"
bin="$build/bench/bench_pmr"
if [ ! -x "$bin" ]; then
  cmake --build "$build" --target bench_pmr >/dev/null
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

examine=$("$bin" examine "$controls" "$work")
convert=$("$bin" convert "$controls" "$work")
value() { printf '%s\n' "$1" | sed -n "s/^$2=//p"; }

start=$(date +%s.%N)
sqlite3 "$work/import.db" <<SQL
CREATE TABLE controls(PRLEASE TEXT, PRREV INTEGER, PRFCYE TEXT, PROVSD TEXT, PROVTD TEXT, PRRETM INTEGER, PRSTORE TEXT, PRBFREQ INTEGER, PRRECFQ INTEGER, PRNBD TEXT, PRNRD TEXT, PRBCT TEXT, PRRCT TEXT, C14 TEXT, C15 TEXT, C16 TEXT, C17 TEXT, C18 TEXT, C19 TEXT, C20 TEXT, C21 TEXT, C22 TEXT, C23 TEXT, C24 TEXT, C25 TEXT, C26 TEXT, C27 TEXT, C28 TEXT, C29 TEXT, C30 TEXT, C31 TEXT, C32 TEXT, C33 TEXT, C34 TEXT, C35 TEXT, C36 TEXT, C37 TEXT, C38 TEXT, C39 TEXT, C40 TEXT, C41 TEXT, C42 TEXT, C43 TEXT, C44 TEXT, C45 TEXT, C46 TEXT, C47 TEXT, PRIMARY KEY (PRLEASE, PRREV));
.mode csv
.import $work/controls.csv controls
SQL
end=$(date +%s.%N)
theirs=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
rows=$(sqlite3 "$work/import.db" "SELECT count(*) FROM controls")
[ "$rows" = "$controls" ] || { echo "sqlite3 .import stored $rows rows, expected $controls" >&2; exit 2; }
[ "$(value "$convert" rejected)" = 0 ] || { echo "the conversion rejected records" >&2; exit 2; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf 'controls:         %s (records read: %s)\n' "$controls" "$(value "$convert" records)"
printf 'sqlite3 .import:  %.2f s\n' "$theirs"
printf 'Examine Files:    %.2f s, ratio %s (target at most 1.0), peak %s MB\n' "$(value "$examine" seconds)" \
  "$(ratio "$(value "$examine" seconds)" "$theirs")" "$(( $(value "$examine" max_rss_kb) / 1024 ))"
printf 'Convert:          %.2f s, ratio %s (target at most 2.0), peak %s MB\n' "$(value "$convert" seconds)" \
  "$(ratio "$(value "$convert" seconds)" "$theirs")" "$(( $(value "$convert" max_rss_kb) / 1024 ))"
printf 'Before the runs:  peak %s MB (the leases written)\n' "$(( $(value "$convert" setup_rss_kb) / 1024 ))"
