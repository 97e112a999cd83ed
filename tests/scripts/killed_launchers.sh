#!/usr/bin/env bash
# Launchers killed at random moments while they unpack a large tree: each is
# started on an empty target and, once it has made the target directory,
# killed (SIGKILL to its process) within the time a whole start takes from
# there (four fifths of the shortest of three). No file under its real name may hold anything but its whole content,
# and the next start, whose child checks every file, must repair the tree and
# leave no temporary file. Prints its figures; exits 1 on any fault.
# The kill comes from the host: Wine 8.0 may leave the Unix process of a
# launcher ended by TerminateProcess blocked instead of gone.
# Usage: killed_launchers.sh FIXTURES_DIR (with WINEPREFIX set and its
# wineserver running); QUORIN_KILLS (default 3), QUORIN_SEED fix the run.
set -euo pipefail
fixtures=$1
kills=${QUORIN_KILLS:-3}
seed=${QUORIN_SEED:-$(( $(date +%s) % 32768 ))}
RANDOM=$seed
launcher=$fixtures/launchers/kill.exe
tree=$fixtures/trees/kill
temp=$(ls -d "$WINEPREFIX"/drive_c/users/*/Temp | head -n 1)
target=$temp/quorin-tests/kill

now_ms() { date +%s%3N; }
# Starts the launcher in the background (its pid in $pid) and returns once it
# has made the target directory or has ended.
start_launcher() {
  wine "$launcher" >/dev/null 2>&1 &
  pid=$!
  while [ ! -d "$target" ] && kill -0 "$pid" 2>/dev/null; do sleep 0.002; done
}
temporaries() { find "$target" -name '~quorin-*.tmp' 2>/dev/null | wc -l; }

# The shortest of three whole starts, from the target directory on; the kills
# fall within the first four fifths of it, so nearly all land while unpacking.
span=
for _ in 1 2 3; do
  rm -rf "$target"
  start_launcher
  begun=$(now_ms)
  wait "$pid" || true
  took=$(( $(now_ms) - begun ))
  if [ -z "$span" ] || [ "$took" -lt "$span" ]; then span=$took; fi
done
span=$(( span * 4 / 5 ))
[ "$span" -gt 0 ] || span=1

mid_unpack=0 wrong=0 left_by_kills=0 left_after=0 repaired=0
for kill in $(seq 1 "$kills"); do
  rm -rf "$target"
  start_launcher
  delay=$(( (RANDOM * 32768 + RANDOM) % span ))
  sleep "$(printf '%d.%03d' $(( delay / 1000 )) $(( delay % 1000 )))"
  if kill -9 "$pid" 2>/dev/null; then mid_unpack=$(( mid_unpack + 1 )); fi
  wait "$pid" 2>/dev/null || true

  while IFS= read -r -d '' file; do
    relative=${file#"$tree"/}
    if [ -e "$target/$relative" ] && ! cmp -s "$file" "$target/$relative"; then
      wrong=$(( wrong + 1 ))
      echo "kill $kill: $relative holds $(stat -c %s "$target/$relative") of $(stat -c %s "$file") bytes, or other bytes"
    fi
  done < <(find "$tree" -type f -print0)
  left_by_kills=$(( left_by_kills + $(temporaries) ))

  # The next start: its child checks every file against the packed manifest.
  if QUORIN_PROBE_VERIFY=manifest.txt wine "$launcher" >/dev/null 2>&1; then
    repaired=$(( repaired + 1 ))
  else
    echo "kill $kill: the next start failed"
  fi
  left_after=$(( left_after + $(temporaries) ))
done
rm -rf "$target"

echo "killed mid-unpack: $kills kills (seed $seed, within $span ms; $mid_unpack still running when killed)," \
  "$wrong files under their real names with wrong content, $left_by_kills temporary files left by the kills," \
  "$left_after left after the next start, $repaired of $kills next starts repaired the tree"
[ "$wrong" -eq 0 ] && [ "$left_after" -eq 0 ] && [ "$repaired" -eq "$kills" ]
