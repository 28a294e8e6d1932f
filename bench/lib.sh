# What the conversion benchmarks' run_<abbr>.sh scripts share; sourced from the top folder after
# `set -euo pipefail`. A script calls bench_runs, then bench_import, then bench_report.

# The value of NAME in a benchmark's result lines: value LINES NAME.
value() { printf '%s\n' "$1" | sed -n "s/^$2=//p"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# bench_runs PROGRAM COUNT BUILD [OPTIONS...]: builds PROGRAM when missing and runs it examined,
# then converted, on COUNT records in a temporary $work (removed on exit), with OPTIONS after the
# work folder; their result lines go to $examine and $convert.
bench_runs() {
  local bin="$3/bench/$1"
  if [ ! -x "$bin" ]; then
    cmake --build "$3" --target "$1" >/dev/null
  fi
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  examine=$("$bin" examine "$2" "$work" "${@:4}")
  convert=$("$bin" convert "$2" "$work" "${@:4}")
}

# bench_import TABLE COUNT CREATE: times `sqlite3 .import` of $work/TABLE.csv into TABLE, made by
# the statement CREATE, into $theirs (seconds); fails unless it stored COUNT rows and the
# conversion rejected none.
bench_import() {
  local start end rows
  start=$(date +%s.%N)
  sqlite3 "$work/import.db" <<SQL
$3
.mode csv
.import $work/$1.csv $1
SQL
  end=$(date +%s.%N)
  theirs=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
  rows=$(sqlite3 "$work/import.db" "SELECT count(*) FROM $1")
  [ "$rows" = "$2" ] || { echo "sqlite3 .import stored $rows rows, expected $2" >&2; exit 2; }
  [ "$(value "$convert" rejected)" = 0 ] || { echo "the conversion rejected records" >&2; exit 2; }
}

# bench_report WHAT COUNT EXAMINE-TARGET CONVERT-TARGET: the lines run_all.sh parses.
bench_report() {
  printf '%-18s%s (records read: %s)\n' "$1:" "$2" "$(value "$convert" records)"
  printf 'sqlite3 .import:  %.2f s\n' "$theirs"
  printf 'Examine Files:    %.2f s, ratio %s (target at most %s), peak %s MB\n' "$(value "$examine" seconds)" \
    "$(ratio "$(value "$examine" seconds)" "$theirs")" "$3" "$(( $(value "$examine" max_rss_kb) / 1024 ))"
  printf 'Convert:          %.2f s, ratio %s (target at most %s), peak %s MB\n' "$(value "$convert" seconds)" \
    "$(ratio "$(value "$convert" seconds)" "$theirs")" "$4" "$(( $(value "$convert" max_rss_kb) / 1024 ))"
}
