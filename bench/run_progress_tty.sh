#!/usr/bin/env bash
# Times `dodedoz-cli convert` of N generated GL master accounts (default 1,000,000) with standard
# error on a terminal (a pseudo-terminal made by `script`) against the same run with standard
# error redirected to a file, each into a new company, and shows how many bytes the terminal
# received. The terminal run should be within about 5% of the redirected one.
# usage: bench/run_progress_tty.sh [accounts] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
accounts="${1:-1000000}"
build="${2:-build}"
cmake --build "$build" --target bench_glm dodedoz-cli >/dev/null
cli="$(cd "$build" && pwd)/bin/dodedoz-cli"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export DODEDOZ_DATA="${DODEDOZ_DATA:-$PWD/data}"
"$build/bench/bench_glm" text "$accounts" "$work"

# One run: a new company, a fresh copy of the text file (a conversion stamps it); seconds taken.
run() {
  local name="$1" company="$work/$1" text="$work/$1.txt"
  "$cli" company init "$company" --modules GL >/dev/null
  cp "$work/glm.txt" "$text"
  local args="convert --company $company --report $work/$name-report.txt --notes $work/$name-notes.txt $text"
  local start end
  start=$(date +%s.%N)
  if [ "$name" = terminal ]; then
    script -q -e -c "$cli $args" "$work/terminal.out" >/dev/null </dev/null
  else
    $cli $args 2>"$work/redirected.out" </dev/null
  fi
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }'
}

redirected=$(run redirected)
terminal=$(run terminal)
bytes=$(wc -c <"$work/terminal.out")
printf 'accounts:              %s\n' "$accounts"
printf 'stderr redirected:     %s s\n' "$redirected"
printf 'stderr on a terminal:  %s s, %s bytes to the terminal\n' "$terminal" "$bytes"
printf 'terminal / redirected: %s (target at most 1.05)\n' "$(awk -v a="$terminal" -v b="$redirected" 'BEGIN { printf "%.3f", a / b }')"
printf 'last line on the terminal: %s\n' "$(tr '\r' '\n' <"$work/terminal.out" | grep -a ' records ' | tail -1)"
