#!/usr/bin/env bash
# What a person sees, under a virtual display (run through xvfb-run): the
# progress window of a windowed launcher's slow first start and the failure
# box of a windowed launcher started with no handles, and no window where
# there is nothing to show or a console or redirection sees the line.
#
#   shown_windows.sh PACKER PROGRAMS WORK PREFIX
#
# PROGRAMS holds probe_child.exe and start_without_handles.exe; WORK takes the
# payloads, launchers and the screenshot (progress-window.png); PREFIX is the
# Wine prefix of this test alone (scripts/display-session.sh says why).
set -euo pipefail
pack=$1
programs=$2
work=$3
mkdir -p "$4"
export WINEPREFIX=$(cd "$4" && pwd)
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/display-session.sh"

mkdir -p "$work"
work=$(cd "$work" && pwd)
display_prefix_start
trap display_prefix_stop EXIT

# A slow first start: 5,000 files of 16 KiB that do not compress, as many
# small files as a large application has, which take seconds to write under
# Wine. A quick one: the probe alone.
make_slow_payload "$work/slow"
rm -rf "$work/quick" && mkdir -p "$work/quick"
cp "$programs/probe_child.exe" "$work/slow/"
cp "$programs/probe_child.exe" "$work/quick/"
# Every start but the failing ones is a first start: a folder of its own per run.
# Each launcher's product is "Probe <name>".
build() {  # NAME INPUT SPEC [OPTION...]
  local name=$1 input=$2 spec=$3
  shift 3
  "$pack" build --input "$work/$input" --child probe_child.exe --output "$work/$name.exe" --product "Probe $name" \
    --spec "$spec" --quiet "$@"
}
build slow slow '{PROGRAM_DIR}\unpacked\{RANDOM}'
build quick quick '{PROGRAM_DIR}\unpacked\{RANDOM}'
build console slow '{PROGRAM_DIR}\unpacked\{RANDOM}' --subsystem console
build never slow '{PROGRAM_DIR}\unpacked\{RANDOM}' --progress-window never
# A file where the target folder should be: the start fails before the child.
build failing quick '{PROGRAM_DIR}\blocked\app'
rm -rf "$work/blocked" && echo "a file, not a folder" >"$work/blocked"

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# One case: starts the launcher (with the handles of this script, their output
# in files, or with none at all), looks at the display every 100 ms while it
# runs, and checks whether its window was seen and the exit code: the
# progress window is titled "Preparing <product>", the failure box with the
# product alone. The slow case also takes the screenshot and checks that the
# window goes once the child's own window is there.
# Without a display the slow start goes on as ever; it comes last, since a
# program without one stops the prefix's desktop from showing windows until
# the wineserver ends.
#   name        launcher  handles  display  window    exit
cases=(
  "slow         slow      files    yes      progress  7"
  "quick        quick     files    yes      -         7"
  "console      console   files    yes      -         7"
  "never        never     files    yes      -         7"
  "box          failing   none     yes      box       2"
  "no_box       failing   files    yes      -         2"
  "no_display   slow      files    no       -         7"
)
for row in "${cases[@]}"; do
  read -r name launcher handles display window expected_exit <<<"$row"
  # The title to look for: a progress window's, or for the failing launcher its box's.
  title="Preparing Probe $launcher"
  if [ "$launcher" = failing ]; then title="Probe $launcher"; fi
  out="$work/$name.out"
  err="$work/$name.err"
  rm -f "$out" "$err"
  export QUORIN_PROBE_EXIT=7 QUORIN_PROBE_SLEEP_MS=2000 QUORIN_PROBE_WINDOW="Probe Window"
  shown_on=$DISPLAY
  [ "$display" = yes ] || unset DISPLAY
  if [ "$handles" = none ]; then
    wine "$programs/start_without_handles.exe" "$work/$launcher.exe" >"$out" 2>"$err" &
  else
    wine "$work/$launcher.exe" >"$out" 2>"$err" &
  fi
  export DISPLAY=$shown_on
  pid=$!
  seen=no
  both=0
  shot=no
  child_window_at=""
  polls=0
  while kill -0 "$pid" 2>/dev/null; do
    if title_shown "$title"; then
      seen=yes
      # The screenshot, once the window is mapped and has had 200 ms to paint.
      if [ "$shot" = no ] && [ "$name" = slow ] && title_viewable "$title"; then
        sleep 0.2
        take_shot "$work/progress-window.png" "$title" || fail "$name: no picture of the window"
        shot=yes
      fi
      # The window goes at its next tick (50 ms) once the child's window
      # shows; ten polls later it must be gone.
      if [ -n "$child_window_at" ] && [ $((polls - child_window_at)) -gt 10 ]; then
        fail "$name: the progress window stays over the child's window"
        child_window_at=""
      fi
    fi
    if [ -z "$child_window_at" ] && title_shown "Probe Window"; then child_window_at=$polls; fi
    # The box hides a progress window that came before it, and none comes after.
    if [ "$window" = box ] && title_viewable "$title" && title_viewable "Preparing $title"; then both=$((both + 1)); fi
    polls=$((polls + 1))
    sleep 0.1
  done
  set +e
  wait "$pid"
  code=$?
  set -e
  [ "$code" = "$expected_exit" ] || fail "$name: exit code $code, expected $expected_exit"
  if [ "$name" = slow ] && [ "$shot" = no ]; then fail "$name: the window was never shown long enough for a picture"; fi
  if [ "$window" != - ] && [ "$seen" = no ]; then fail "$name: no window titled '$title' was seen"; fi
  if [ "$window" = - ] && [ "$seen" = yes ]; then fail "$name: a window titled '$title' was seen"; fi
  if [ "$both" -gt 2 ]; then fail "$name: the progress window showed beside the failure box"; fi
  # Gone with the launcher: the failure box closed by itself, after its time.
  if title_shown "$title"; then fail "$name: the window titled '$title' outlived the launcher"; fi
  # With handles, the child's report and the failure's line reach them as always.
  if [ "$handles" = files ] && [ "$expected_exit" = 7 ] && ! grep -q '^pid=' "$out"; then
    fail "$name: the child's output did not reach the launcher's standard output"
  fi
  if [ "$handles" = files ] && [ "$expected_exit" = 2 ] && ! grep -q '^Error, ' "$err"; then
    fail "$name: no error line on standard error"
  fi
  echo "$name: exit $code, window $seen"
done

if [ -f "$work/progress-window.png" ]; then echo "screenshot: $work/progress-window.png"; fi
[ "$failures" = 0 ] || exit 1
echo "all cases passed"
