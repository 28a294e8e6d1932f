#!/usr/bin/env bash
# Lists the groups of a substitution table file holding a table of N entries (default 100,000),
# counting them as `tables list` does, opens the table as the editor does (load and sort), then
# saves it as a new group; compared with `sqlite3 .import` of the same entries into a table
# keyed like the entry record.
# usage: bench/run_tables.sh [entries] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
entries="${1:-100000}"
build="${2:-build}"
bin="$build/bench/bench_tables"
if [ ! -x "$bin" ]; then
  cmake --build "$build" --target bench_tables >/dev/null
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

out=$("$bin" "$entries" "$work")
list=$(sed -n 's/^list_seconds=//p' <<<"$out")
open=$(sed -n 's/^open_seconds=//p' <<<"$out")
saveas=$(sed -n 's/^saveas_seconds=//p' <<<"$out")
peak=$(sed -n 's/^peak_mb=//p' <<<"$out")

start=$(date +%s.%N)
sqlite3 "$work/import.db" <<SQL
CREATE TABLE r3(FTABLE TEXT COLLATE NOCASE NOT NULL, FFIELD INTEGER NOT NULL, FOLDVAL TEXT COLLATE NOCASE NOT NULL,
                FNEWVAL TEXT NOT NULL);
CREATE UNIQUE INDEX k0 ON r3(FTABLE, FFIELD, FOLDVAL);
.mode csv
.import $work/entries.csv r3
SQL
end=$(date +%s.%N)
theirs=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
rows=$(sqlite3 "$work/import.db" "SELECT count(*) FROM r3")
[ "$rows" = "$entries" ] || { echo "sqlite3 .import stored $rows rows, expected $entries" >&2; exit 2; }

printf 'entries:          %s\n' "$entries"
printf 'tables list:      %.2f s (target at most the open)\n' "$list"
printf 'open:             %.2f s (ratio %.2f, target at most 1.0)\n' "$open" "$(awk -v a="$open" -v b="$theirs" 'BEGIN { print a / b }')"
printf 'save as:          %.2f s (ratio %.2f, target at most 2.0)\n' "$saveas" "$(awk -v a="$saveas" -v b="$theirs" 'BEGIN { print a / b }')"
printf 'sqlite3 .import:  %.2f s\n' "$theirs"
printf 'peak memory:      %.0f MB (target under 200)\n' "$peak"
