#!/usr/bin/env bash
# What judging journals and guarding SQLite's file layer cost: two builds, paired runs in turn
# (old, new, then new, old, ...), the CPU time (user + system) each took, and the ratio new/old.
#   - a GL master conversion of N generated accounts (default 1,000,000), PAIRS pairs (default 3)
#   - SMALL `load`s of one GL account (default 300), each into a fresh copy of a demo company
# usage: bench/run_journal_cost.sh OLD_BUILD NEW_BUILD [accounts] [pairs] [small runs]
set -euo pipefail
cd "$(dirname "$0")/.."
old="$(cd "$1" && pwd)"; new="$(cd "$2" && pwd)"
accounts="${3:-1000000}"; pairs="${4:-3}"; small="${5:-300}"
for b in "$old" "$new"; do
  [ -x "$b/bench/bench_glm" ] || cmake --build "$b" --target bench_glm >/dev/null
  [ -x "$b/bin/dodedoz-cli" ] || cmake --build "$b" --target dodedoz-cli >/dev/null
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export DODEDOZ_DATA="$PWD/data"

# cpu COMMAND...: runs it and prints the CPU seconds (user + system) it took.
cpu() {
  local TIMEFORMAT='%3U %3S' t
  t=$({ time "$@" >/dev/null 2>&1 || echo failed; } 2>&1)
  case "$t" in *failed*) echo "failed: $*" >&2; exit 2 ;; esac
  awk '{ printf "%.3f", $1 + $2 }' <<<"$t"
}

declare -A big=([old]=0 [new]=0) few=([old]=0 [new]=0)
add() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a + b }'; }
for ((i = 0; i < pairs; i++)); do
  order=(old new); ((i % 2)) && order=(new old)
  for which in "${order[@]}"; do
    b=$old; [ "$which" = new ] && b=$new
    rm -rf "$work/glm"; mkdir "$work/glm"
    big[$which]=$(add "${big[$which]}" "$(cpu "$b/bench/bench_glm" convert "$accounts" "$work/glm")")
  done
done
rm -rf "$work/glm"

DEMO_CLI="$new/bin/dodedoz-cli" DEMO_DIR="$work/base" ./scripts/demo glm >/dev/null 2>&1
printf '@GLM\nR1 AACCT="01110990000" ATITLE="One account" ATYPE=1\n' > "$work/one.load"
for ((i = 0; i < small; i++)); do
  order=(old new); ((i % 2)) && order=(new old)
  for which in "${order[@]}"; do
    b=$old; [ "$which" = new ] && b=$new
    rm -rf "$work/co"; cp -a "$work/base" "$work/co"
    few[$which]=$(add "${few[$which]}" "$(cpu "$b/bin/dodedoz-cli" load --company "$work/co" "$work/one.load")")
  done
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
printf 'GL master, %s accounts, %s pairs: CPU old %s s, new %s s, new/old %s\n' "$accounts" "$pairs" \
  "${big[old]}" "${big[new]}" "$(ratio "${big[new]}" "${big[old]}")"
printf '%s loads of one account: CPU old %s s, new %s s, new/old %s\n' "$small" \
  "${few[old]}" "${few[new]}" "$(ratio "${few[new]}" "${few[old]}")"
