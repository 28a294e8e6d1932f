#!/usr/bin/env bash
# Prefill and import of substitution tables through dodedoz-cli: a generated GL master text file
# of LINES lines holding DISTINCT accounts (defaults 1,000,000 and 100,000) prefilled into an
# empty account table of old size 40 and saved; then that table exported and imported into
# another group and saved. Compared with `sqlite3 .import` of the same lines, and of the table's
# rows, into a table keyed like the entry record.
# usage: bench/run_prefill.sh [lines] [distinct] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
lines="${1:-1000000}"
distinct="${2:-100000}"
build="${3:-build}"
cli="$build/bin/dodedoz-cli"
glm="$build/bench/bench_glm"
[ -x "$cli" ] || cmake --build "$build" --target dodedoz-cli >/dev/null
[ -x "$glm" ] || cmake --build "$build" --target bench_glm >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# DISTINCT accounts, then their lines repeated until the file holds LINES account lines.
"$glm" text "$distinct" "$work" >/dev/null
awk -v want="$lines" '/^1B,/ { acc[n++] = $0; next } { print } END { for (i = 0; i < want; i++) print acc[i % n] }' \
    "$work/glm.txt" >"$work/prefill.txt"
awk -F, -v want="$lines" '/^1B,/ { print $2 ",," }' "$work/prefill.txt" >"$work/lines.csv"
"$cli" company init "$work/co" >/dev/null

timed() {  # seconds and peak MB of one dodedoz-cli run
    local start end
    start=$(date +%s.%N)
    /usr/bin/time -f '%M' -o "$work/rss" "$cli" "$@" >/dev/null 2>"$work/err" || true
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }'
    printf ' %s' "$(($(cat "$work/rss") / 1024))"
}
sqlite_import() {  # seconds of `sqlite3 .import` of a CSV of old,new,third rows
    local start end
    rm -f "$work/s.db"
    start=$(date +%s.%N)
    sqlite3 "$work/s.db" <<SQL
CREATE TABLE r3(FOLDVAL TEXT COLLATE NOCASE NOT NULL, NEWACCT TEXT NOT NULL, X TEXT);
CREATE UNIQUE INDEX k0 ON r3(FOLDVAL);
.mode csv
.import $1 r3
SQL
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }'
}

read -r prefill prefillMb <<<"$(timed tables prefill --company "$work/co" BENCH1 --app GL --field 9 --old-size 40 \
    "$work/prefill.txt")"
"$cli" tables export --company "$work/co" BENCH1 --app GL --field 9 "$work/table.txt"
rows=$(wc -l <"$work/table.txt")
[ "$rows" = "$distinct" ] || { echo "the prefill gave $rows rows, expected $distinct" >&2; cat "$work/err" >&2; exit 2; }
read -r import importMb <<<"$(timed tables import --company "$work/co" BENCH2 --app GL --field 9 --old-size 40 \
    "$work/table.txt")"
tr -d '\r' <"$work/table.txt" | awk '{ print $0 "," }' >"$work/rows.csv"
theirsLines=$(sqlite_import "$work/lines.csv" 2>/dev/null)
theirsRows=$(sqlite_import "$work/rows.csv")

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf 'lines / distinct:        %s / %s\n' "$lines" "$distinct"
printf 'prefill and save:        %s s (ratio %s, target at most 1.0), peak %s MB\n' "$prefill" \
    "$(ratio "$prefill" "$theirsLines")" "$prefillMb"
printf 'import and save:         %s s (ratio %s, target at most 2.0), peak %s MB\n' "$import" \
    "$(ratio "$import" "$theirsRows")" "$importMb"
printf 'sqlite3 .import lines:   %s s\n' "$theirsLines"
printf 'sqlite3 .import rows:    %s s\n' "$theirsRows"
