#!/usr/bin/env bash
# Times the desktop program's Convert of N generated GL master accounts (default 1,000,000) under
# Xvfb, driven with xdotool as a person would (Tasks > Convert..., the file's path typed into the
# chooser, Start in the hub), against `dodedoz-cli convert` of the same file, each into a new
# company. The desktop is timed from Start to its report being written; the command line as a
# whole. The desktop should be within 1.2 times the command line. Not run in CI.
# Needs Xvfb and xdotool (apt-get install xvfb xdotool).
# usage: bench/run_desktop_glm.sh [accounts] [build folder] [desktop program]
set -euo pipefail
cd "$(dirname "$0")/.."
accounts="${1:-1000000}"
build="${2:-build}"
desktop="${3:-}"
if [ -z "$desktop" ]; then
  cmake --build "$build" --target bench_glm dodedoz-cli dodedoz >/dev/null
  desktop="$build/bin/dodedoz"
fi
desktop="$(cd "$(dirname "$desktop")" && pwd)/$(basename "$desktop")"
cli="$(cd "$build" && pwd)/bin/dodedoz-cli"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export DODEDOZ_DATA="${DODEDOZ_DATA:-$PWD/data}"
"$build/bench/bench_glm" text "$accounts" "$work" >/dev/null

elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

# The command line: a new company, a fresh copy of the text file (a conversion stamps it).
"$cli" company init "$work/cli" --modules GL >/dev/null
cp "$work/glm.txt" "$work/cli.txt"
start=$(date +%s.%N)
"$cli" convert --company "$work/cli" --report "$work/cli-report.txt" "$work/cli.txt" >/dev/null 2>&1 || true
end=$(date +%s.%N)
cli_seconds=$(elapsed "$start" "$end")

# The desktop, on a display of its own.
"$cli" company init "$work/desk" --modules GL >/dev/null
cp "$work/glm.txt" "$work/desk.txt"
cat >"$work/drive.sh" <<'END'
set -euo pipefail
work="$1" desktop="$2"
# The visible windows named like $1, one a line. xdotool gives up on the whole search, with
# "X Error: BadWindow", when a window goes while it looks at it (a dialog closing, a tooltip):
# the search is made again, up to ten times. Finding none fails it too, silently.
windows() {
  local tries err
  for tries in 1 2 3 4 5 6 7 8 9 10; do
    if err=$(xdotool search --onlyvisible --name "$1" 2>&1 >"$work/found"); then cat "$work/found"; return 0; fi
    if [ -z "$err" ]; then return 0; fi
    sleep 0.1
  done
  echo "drive.sh: cannot search the windows named '$1': $err" >&2
  return 1
}
# The first window named like $1, waited for up to a minute.
wait_window() {
  local i w
  for i in $(seq 600); do
    w=$(windows "$1" | head -1)
    if [ -n "$w" ]; then echo "$w"; return 0; fi
    sleep 0.1
  done
  echo "drive.sh: no window named '$1' after a minute" >&2
  return 1
}
"$desktop" --company "$work/desk" >"$work/desktop.log" 2>&1 &
pid=$!
main=$(wait_window '^RA Dodedoz$')
sleep 1
xdotool windowfocus --sync "$main" key alt+t
sleep 0.5
xdotool key c
# The chooser: the text file's path typed, then the hub's Start.
wait_window 'Text File Selection' >/dev/null
sleep 0.5
xdotool type --delay 5 "$work/desk.txt"
xdotool key Return
# The hub opens at the top left of the window; its Start button is clicked where it stands (an
# Alt key would go to the menu bar).
sleep 2
xdotool mousemove 71 494 click 1
start=$(date +%s.%N)
report="$work/desk/conversion_report.txt"
# Done when the report is written, or when a closing message asks for OK.
until [ -s "$report" ]; do
  if [ "$(windows '^RA Dodedoz$' | wc -l)" -gt 1 ]; then break; fi
  sleep 0.05
done
end=$(date +%s.%N)
awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f\n", b - a }' >"$work/desktop_seconds"
sleep 1
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
END
xvfb-run -a -s "-screen 0 1280x1024x24" bash "$work/drive.sh" "$work" "$desktop"
desktop_seconds=$(cat "$work/desktop_seconds")
stamped=$(head -2 "$work/desk.txt" | grep -c "Previously Converted" || true)

printf 'accounts:            %s\n' "$accounts"
printf 'dodedoz-cli convert: %s s\n' "$cli_seconds"
printf 'desktop Convert:     %s s (text file stamped: %s)\n' "$desktop_seconds" "$([ "$stamped" = 1 ] && echo yes || echo no)"
printf 'desktop / cli:       %s (target at most 1.2)\n' "$(awk -v a="$desktop_seconds" -v b="$cli_seconds" 'BEGIN { printf "%.2f", a / b }')"
