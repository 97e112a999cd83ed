#!/usr/bin/env bash
# Takes the README's picture of the progress window (docs/progress-window.png):
# packs the test probe with a payload slow enough to write (5,000 files of
# 16 KiB that do not compress) as "My App", starts it under a virtual display
# (Xvfb) in a Wine prefix of its own, build/wineprefix-display, and cuts the
# screen to the window once it has drawn about half its bar.
# Usage: scripts/screenshot.sh [OUTPUT.png]   (after a build)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
output=$(realpath -m "${1:-$root/docs/progress-window.png}")
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "${BASH_SOURCE[0]}" "$output"
fi
work=$root/build/screenshot
mkdir -p "$work" "$(dirname "$output")" "$root/build/wineprefix-display"
export WINEPREFIX=$root/build/wineprefix-display
source "$root/scripts/display-session.sh"

make_slow_payload "$work/app"
cp "$root/build/windows/programs/probe_child.exe" "$work/app/MyApp.exe"
"$root/build/bin/quorin-pack" build --input "$work/app" --child MyApp.exe --output "$work/MyApp.exe" \
  --product "My App" --company Acme --spec '{PROGRAM_DIR}\unpacked\{RANDOM}' --quiet

display_prefix_start
trap display_prefix_stop EXIT
QUORIN_PROBE_REPORT='C:\windows\temp\screenshot-probe.txt' wine "$work/MyApp.exe" >/dev/null 2>&1 &
pid=$!
title="Preparing My App"
until title_viewable "$title"; do
  kill -0 "$pid" 2>/dev/null || { echo "screenshot: the window never showed" >&2; exit 1; }
  sleep 0.05
done
# Half of the writing that follows the first 0.5 s.
sleep 0.8
take_shot "$output" "$title"
wait "$pid" || true
echo "screenshot: $output"
