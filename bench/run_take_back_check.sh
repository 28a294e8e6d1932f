#!/usr/bin/env bash
# What the check after a take-back costs: a GL master of N generated accounts (default
# 1,000,000), a real write of one account into it stopped inside its commit (gdb ends the program
# where it would remove its journal), then a `load` of nothing that takes that write back, by two
# builds in paired runs in turn (old, new, then new, old, ...), each on a fresh copy of the file
# with its journal. Prints the wall and CPU seconds (user + system) of each build's take-backs and
# the ratio new/old. A run that does not say the write was taken back fails the bench.
# usage: bench/run_take_back_check.sh OLD_BUILD NEW_BUILD [accounts] [pairs]
set -euo pipefail
cd "$(dirname "$0")/.."
old="$(cd "$1" && pwd)"; new="$(cd "$2" && pwd)"
accounts="${3:-1000000}"; pairs="${4:-3}"
command -v gdb >/dev/null || { echo "needs gdb, to stop a write inside its commit" >&2; exit 2; }
[ -x "$new/bench/bench_glm" ] || cmake --build "$new" --target bench_glm >/dev/null
for b in "$old" "$new"; do
  [ -x "$b/bin/dodedoz-cli" ] || cmake --build "$b" --target dodedoz-cli >/dev/null
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export DODEDOZ_DATA="$PWD/data"

"$new/bench/bench_glm" convert "$accounts" "$work/glm" >/dev/null
hot="$work/glm/convert"
printf '@GLM\nR1 AACCT="01110990000" ATITLE="One account" ATYPE=1\n' > "$work/one.load"
printf '@GLM\n' > "$work/none.load"
gdb -q -batch -ex "break 'dz::xio::(anonymous namespace)::guard_delete'" -ex run -ex kill \
  --args "$new/bin/dodedoz-cli" load --company "$hot" "$work/one.load" >/dev/null 2>&1 || true
[ -s "$hot/MASTER.GLM-journal" ] || { echo "no journal was left beside $hot/MASTER.GLM" >&2; exit 2; }
echo "MASTER.GLM: $(stat -c %s "$hot/MASTER.GLM") bytes, its journal $(stat -c %s "$hot/MASTER.GLM-journal") bytes"

# run BUILD: takes the stopped write back in a fresh copy; prints "wall cpu" seconds.
run() {
  local TIMEFORMAT='%3R %3U %3S' t out
  rm -rf "$work/co"; cp -a "$hot" "$work/co"
  sync
  t=$({ time "$1/bin/dodedoz-cli" load --company "$work/co" "$work/none.load" >"$work/out" 2>&1; } 2>&1) || true
  grep -q "stands as it was before that write" "$work/out" || { echo "not taken back by $1:" >&2; cat "$work/out" >&2; exit 2; }
  awk '{ printf "%.3f %.3f", $1, $2 + $3 }' <<<"$t"
}

declare -A wall=([old]=0 [new]=0) cpu=([old]=0 [new]=0)
add() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a + b }'; }
for ((i = 0; i < pairs; i++)); do
  order=(old new); ((i % 2)) && order=(new old)
  for which in "${order[@]}"; do
    b=$old; [ "$which" = new ] && b=$new
    read -r w c <<<"$(run "$b")"
    wall[$which]=$(add "${wall[$which]}" "$w"); cpu[$which]=$(add "${cpu[$which]}" "$c")
  done
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
printf 'take-back of a stopped write, GL master of %s accounts, %s pairs:\n' "$accounts" "$pairs"
printf '  wall: old %s s, new %s s, new/old %s\n' "${wall[old]}" "${wall[new]}" "$(ratio "${wall[new]}" "${wall[old]}")"
printf '  CPU:  old %s s, new %s s, new/old %s\n' "${cpu[old]}" "${cpu[new]}" "$(ratio "${cpu[new]}" "${cpu[old]}")"
