#!/usr/bin/env bash
# The desktop's resident memory around a report shown on the screen: Examine Files of GL accounts
# files whose every record is rejected (too few columns, one report line each), the report sent
# to the Screen, driven with xdotool under Xvfb as a person would (Tasks > Examine Files..., the
# file's path typed into the chooser, Screen, Start, OK on the closing box, Ctrl+End and Page Up
# in the report, Escape). For each size it prints the resident memory (VmRSS) before the run, at
# the closing box, with the report shown and after it was closed, and the peak (VmHWM). What the
# report view holds must not grow with the report: a few MB at any size, given back when closed.
# Not run in CI. Needs Xvfb and xdotool (apt-get install xvfb xdotool).
# usage: bench/run_desktop_report_memory.sh [records...] (default 200000 2000000)
#        DZ_DESKTOP=path bench/run_desktop_report_memory.sh ...   runs that desktop (an older one)
#        DZ_SHOTS=folder ...   keeps a screenshot of each report shown there
set -euo pipefail
cd "$(dirname "$0")/.."
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
"$desktop" --company "$work/co" >"$work/desktop.log" 2>&1 &
pid=$!
main=$(wait_window '^RA Dodedoz$')
settle
before=$(rss)
xdotool windowfocus --sync "$main" key alt+t
sleep 0.5
xdotool key e
wait_window 'Text File Selection' >/dev/null
sleep 0.5
xdotool type --delay 5 "$work/g$records.txt"
xdotool key Return
# The hub opens at the top left of the window: Screen, then Start, clicked where they stand.
sleep 2
xdotool mousemove 143 305 click 1
sleep 0.3
xdotool mousemove 71 494 click 1
# The closing box is a second window of the program's name.
for i in $(seq 6000); do
  [ "$(xdotool search --onlyvisible --name '^RA Dodedoz$' 2>/dev/null | wc -l)" -gt 1 ] && break
  sleep 0.1
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
xdotool key Escape
settle
closed=$(rss)
peak=$(awk '/^VmHWM/ { print int($2 / 1024) }' "/proc/$pid/status")
echo "$before $closing $shown $moved $closed $peak" >"$work/result"
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
  read -r before closing shown moved closed peak <"$work/result"
  printf '%9s rejected records: before %4s MB, closing box %4s MB, report shown %4s MB (at its end %4s MB), closed %4s MB, peak %4s MB\n' \
    "$records" "$before" "$closing" "$shown" "$moved" "$closed" "$peak"
  rm -f "$work/g$records.txt"
done
