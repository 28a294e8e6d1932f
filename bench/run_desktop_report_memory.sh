#!/usr/bin/env bash
# The desktop's resident memory around a report shown on the screen: Examine Files of GL accounts
# files whose every record is rejected (too few columns, one report line each), the report sent
# to the Screen, driven with xdotool under Xvfb as a person would (Tasks > Examine Files..., the
# file's path typed into the chooser, Screen, Start, OK on the closing box, Ctrl+End and Page Up
# in the report, Ctrl+A and Ctrl+C, Escape). For each size it prints the resident memory (VmRSS)
# before the run, at the closing box, with the report shown, at its end, with all of it copied,
# after it was closed, and the peak (VmHWM). What the report view holds must not grow with the
# report, nor with a copy of it: a few MB at any size, given back when closed.
# Not run in CI. Needs Xvfb, xdotool and ImageMagick's import (apt-get install xvfb xdotool
# imagemagick).
# usage: bench/run_desktop_report_memory.sh [records...] (default 200000 2000000)
#        DZ_DESKTOP=path bench/run_desktop_report_memory.sh ...   runs that desktop (an older one)
#        DZ_SHOTS=folder ...   keeps a screenshot of each report shown there
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in xvfb-run xdotool import; do
  command -v "$tool" >/dev/null || { echo "$0: needs $tool (apt-get install xvfb xdotool imagemagick)" >&2; exit 1; }
done
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(200000 2000000)
build="${DZ_BUILD:-build}"
cmake --build "$build" --target dodedoz-cli dodedoz >/dev/null
cli="$(cd "$build" && pwd)/bin/dodedoz-cli"
desktop="$(realpath "${DZ_DESKTOP:-$build/bin/dodedoz}")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export DODEDOZ_DATA="${DODEDOZ_DATA:-$PWD/data}"
"$cli" company init "$work/co" --modules GL >/dev/null

cat >"$work/drive.sh" <<'END'
set -euo pipefail
work="$1" desktop="$2" records="$3" shots="$4"
# The first visible window named like $1, waited for up to two minutes. xdotool gives up on a
# search when a window goes while it looks (a dialog closing): the search is made again.
wait_window() {
  local i w
  for i in $(seq 1200); do
    w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)
    if [ -n "$w" ]; then echo "$w"; return 0; fi
    sleep 0.1
  done
  echo "drive.sh: no window named '$1' after two minutes" >&2
  return 1
}
# Waits until the desktop has used no processor time for a second: it has drawn what it shows.
settle() {
  local last now same=0
  last=$(awk '{ print $14 + $15 }' "/proc/$pid/stat")
  while [ "$same" -lt 10 ]; do
    sleep 0.1
    now=$(awk '{ print $14 + $15 }' "/proc/$pid/stat")
    if [ "$now" = "$last" ]; then same=$((same + 1)); else same=0; last=$now; fi
  done
}
rss() { awk '/^VmRSS/ { print int($2 / 1024) }' "/proc/$pid/status"; }
# The colour shown at x,y.
pixel() { import -window root -crop "1x1+$1+$2" -depth 8 txt:- 2>/dev/null | awk 'NR == 2 { print $3 }'; }
# Waits, up to two minutes, until x,y no longer shows the colour $3 (the empty window's there): the
# hub's panel, an MDI child that xdotool cannot find by name, is drawn over it. A click before
# that would be lost.
wait_drawn() {
  local i
  for i in $(seq 1200); do
    [ "$(pixel "$1" "$2")" != "$3" ] && return 0
    sleep 0.1
  done
  echo "drive.sh: $4 not shown at $1,$2 after two minutes" >&2
  return 1
}
# Waits until no window named $1 is shown, up to two minutes.
wait_gone() {
  local i
  for i in $(seq 1200); do
    [ -z "$(xdotool search --onlyvisible --name "$1" 2>/dev/null || true)" ] && return 0
    sleep 0.1
  done
  echo "drive.sh: the window '$1' still shown after two minutes" >&2
  return 1
}
"$desktop" --company "$work/co" >"$work/desktop.log" 2>&1 &
pid=$!
main=$(wait_window '^RA Dodedoz$')
settle
before=$(rss)
# Where the hub's Screen and Start will stand, as the empty window shows it.
screen_at=(143 305) start_at=(71 494)
empty_screen=$(pixel "${screen_at[@]}") empty_start=$(pixel "${start_at[@]}")
[ -n "$empty_screen" ] && [ -n "$empty_start" ] || { echo "drive.sh: the screen cannot be read" >&2; exit 1; }
xdotool windowfocus --sync "$main" key alt+t
sleep 0.5
xdotool key e
wait_window 'Text File Selection' >/dev/null
sleep 0.5
xdotool type --delay 5 "$work/g$records.txt"
xdotool key Return
# The hub opens at the top left of the window: Screen, then Start, clicked where they stand once
# it is drawn there and the desktop is idle.
wait_gone 'Text File Selection'
wait_drawn "${screen_at[@]}" "$empty_screen" "the hub's Screen"
wait_drawn "${start_at[@]}" "$empty_start" "the hub's Start"
settle
xdotool mousemove "${screen_at[@]}" click 1
settle
xdotool mousemove "${start_at[@]}" click 1
# The closing box is a second window of the program's name. A desktop that does nothing for ten
# seconds without one has not started the run.
idle=0 last=$(awk '{ print $14 + $15 }' "/proc/$pid/stat")
until [ "$(xdotool search --onlyvisible --name '^RA Dodedoz$' 2>/dev/null | wc -l)" -gt 1 ]; do
  sleep 0.1
  now=$(awk '{ print $14 + $15 }' "/proc/$pid/stat")
  if [ "$now" = "$last" ]; then idle=$((idle + 1)); else idle=0 last=$now; fi
  if [ "$idle" -ge 100 ]; then
    echo "drive.sh: no closing box, and the desktop idle for ten seconds: the run did not start" >&2
    exit 1
  fi
done
settle
closing=$(rss)
xdotool key Return
settle
shown=$(rss)
xdotool key ctrl+End
settle
xdotool key Prior
settle
if [ -n "$shots" ]; then import -window root "$shots/desktop-report-$records.png"; fi
moved=$(rss)
# Everything selected and copied: the clipboard is told where the lines are, not given them.
xdotool key ctrl+a ctrl+c
settle
copied=$(rss)
xdotool key Escape
settle
closed=$(rss)
peak=$(awk '/^VmHWM/ { print int($2 / 1024) }' "/proc/$pid/status")
echo "$before $closing $shown $moved $copied $closed $peak" >"$work/result"
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
END

for records in "${sizes[@]}"; do
  {
    echo '#,GLM,xvglm'
    awk -v n="$records" 'BEGIN { for (i = 1; i <= n; i++) printf "6,%07d\n", i }'
  } >"$work/g$records.txt"
  rm -f "$work/result"
  xvfb-run -a -s "-screen 0 1280x1024x24" bash "$work/drive.sh" "$work" "$desktop" "$records" "${DZ_SHOTS:-}"
  read -r before closing shown moved copied closed peak <"$work/result"
  printf '%9s rejected records: before %4s MB, closing box %4s MB, report shown %4s MB (at its end %4s MB, all copied %4s MB), closed %4s MB, peak %4s MB\n' \
    "$records" "$before" "$closing" "$shown" "$moved" "$copied" "$closed" "$peak"
  rm -f "$work/g$records.txt"
done
