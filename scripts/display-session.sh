# Functions for looking at the launcher's windows under an X display (Xvfb,
# through xvfb-run), sourced by the test of what a person sees, by
# screenshot.sh and by bench-window.sh. Wine runs in a prefix of the caller's own (WINEPREFIX): a
# wineserver whose desktop started without a display never shows a window, so
# the display's programs cannot share the prefix of the other Wine tests.

here_display_session=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Starts the prefix's wineserver under $DISPLAY (creating the prefix on first
# use). Its windows are not managed (Managed=N): Xvfb has no window manager,
# so Wine draws the title bars itself (a picture of a window shows its title),
# and a window that goes is gone at once (Wine 8.0 waits up to 2 s for a
# window manager to take a managed window away).
display_prefix_start() {
  [ -n "${DISPLAY:-}" ] || { echo "display-session: no DISPLAY (run under xvfb-run)" >&2; return 1; }
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  "$here_display_session/wine-prefix" start "$WINEPREFIX" >/dev/null
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
}

# A payload slow enough to write that the progress window shows, in $1/data:
# 5,000 files of 16 KiB that do not compress, as many small files as a large
# application has, which take seconds to write under Wine. Made once.
make_slow_payload() {
  [ -f "$1/data/done" ] && return
  rm -rf "$1" && mkdir -p "$1/data"
  python3 -c '
import os, sys
for i in range(5000):
    folder = os.path.join(sys.argv[1], "d%02d" % (i % 50))
    os.makedirs(folder, exist_ok=True)
    open(os.path.join(folder, "f%04d.bin" % i), "wb").write(os.urandom(16384))
' "$1/data"
  touch "$1/data/done"
}

display_prefix_stop() {
  "$here_display_session/wine-prefix" stop "$WINEPREFIX" >/dev/null
}

# Whether a top-level window titled exactly $1 is on the display.
title_shown() {
  xwininfo -root -tree 2>/dev/null | grep -qF "\"$1\": ("
}

# Whether that window is mapped: shown, not only made.
title_viewable() {
  xwininfo -name "$1" 2>/dev/null | grep -q 'Map State: IsViewable'
}

# Writes a PNG of the display ($1), cut to the window titled $2 with a margin
# of 16 pixels around it; fails for a picture of one colour.
take_shot() {
  local png=$1 title=$2 geometry x y width height
  geometry=$(xwininfo -root -tree 2>/dev/null | grep -F "\"$title\": (" | head -n 1 |
             sed -E 's/.* ([0-9]+)x([0-9]+)\+(-?[0-9]+)\+(-?[0-9]+) .*/\1 \2 \3 \4/')
  read -r width height x y <<<"$geometry"
  xwd -root -silent >"$png.xwd"
  local status=0
  python3 "$here_display_session/xwd-to-png.py" "$png.xwd" "$png" $((x - 16)) $((y - 16)) $((width + 32)) \
    $((height + 32)) || status=$?
  rm -f "$png.xwd"
  return $status
}
