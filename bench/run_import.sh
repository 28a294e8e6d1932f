#!/usr/bin/env bash
# Compares importing N lines (default 1,000,000) of eight columns through the import library
# into record buffers (nothing written) with `sqlite3 .import` of the same rows.
# usage: bench/run_import.sh [lines] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
lines="${1:-1000000}"
build="${2:-build}"
bin="$build/bench/bench_import"
if [ ! -x "$bin" ]; then
  cmake --build "$build" --target bench_import >/dev/null
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

out=$("$bin" "$lines" "$work")
ours=$(printf '%s\n' "$out" | sed -n 's/^import_seconds=//p')

start=$(date +%s.%N)
sqlite3 "$work/import.db" <<SQL
CREATE TABLE rows(ID TEXT, KEY TEXT, NAME TEXT, AMT REAL, COST REAL, QTY INTEGER, RATE REAL, DATE TEXT, KIND TEXT);
.mode csv
.import $work/rows.csv rows
SQL
end=$(date +%s.%N)
theirs=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
rows=$(sqlite3 "$work/import.db" "SELECT count(*) FROM rows")
[ "$rows" = "$lines" ] || { echo "sqlite3 .import stored $rows rows, expected $lines" >&2; exit 2; }

printf 'lines:            %s\n' "$lines"
printf 'xvlImport:        %.2f s\n' "$ours"
printf 'sqlite3 .import:  %.2f s\n' "$theirs"
printf 'ratio:            %.2f (target at most 0.33)\n' "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { print a / b }')"
