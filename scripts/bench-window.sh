#!/usr/bin/env bash
# What the progress window costs a first start, under a virtual display
# (Xvfb) in the display tests' Wine prefix (build/wineprefix-display): one
# payload slow enough to show it (5,000 files of 16 KiB that do not compress,
# the child exiting at once) packed twice, with the window
# (--progress-window auto) and without (never), started in turn, each time
# into an emptied folder. Prints every round's times, the medians
# and their difference. Figures only, no pass or fail.
# Usage: scripts/bench-window.sh [ROUNDS]   (after a build; 5 rounds by default)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
rounds=${1:-5}
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "${BASH_SOURCE[0]}" "$rounds"
fi
work=$root/build/bench-window
mkdir -p "$work" "$root/build/wineprefix-display"
export WINEPREFIX=$root/build/wineprefix-display
source "$root/scripts/display-session.sh"

make_slow_payload "$work/app"
cp "$root/build/windows/programs/probe_child.exe" "$work/app/"
for mode in auto never; do
  "$root/build/bin/quorin-pack" build --input "$work/app" --child probe_child.exe --output "$work/$mode.exe" \
    --product "Window Bench" --spec "{PROGRAM_DIR}\\unpacked-$mode" --progress-window "$mode" --quiet
done

# The launchers run from memory (/dev/shm) where there is such a folder, and
# unpack beside themselves: the disk's write-back of earlier rounds would
# swamp a difference of milliseconds.
runs=$work
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  runs=$(mktemp -d /dev/shm/quorin-bench-window.XXXXXX)
  cp "$work/auto.exe" "$work/never.exe" "$runs/"
fi
display_prefix_start
trap 'display_prefix_stop; [ "$runs" = "$work" ] || rm -rf "$runs"' EXIT
export QUORIN_PROBE_REPORT='C:\windows\temp\bench-window-probe.txt'
declare -A times
for round in $(seq 1 "$rounds"); do
  # The order alternates, so neither launcher always follows the other.
  order="auto never"
  [ $((round % 2)) = 0 ] && order="never auto"
  line="round $round:"
  for mode in $order; do
    rm -rf "$runs/unpacked-$mode"
    start=$(date +%s%N)
    wine "$runs/$mode.exe" >/dev/null 2>&1
    ms=$((($(date +%s%N) - start) / 1000000))
    times[$mode]+="$ms "
    line+="  $mode $ms ms"
  done
  echo "$line"
done
median() { tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
with=$(echo "${times[auto]}" | median)
without=$(echo "${times[never]}" | median)
echo "first start, median of $rounds: with the window $with ms, without $without ms, difference $(echo "$with - $without" | bc) ms"
