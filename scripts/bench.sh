#!/usr/bin/env bash
# Launcher benchmark under Wine: packs a synthetic application (a few hundred
# files, part compressible text, part incompressible data), then times the
# first start (everything unpacked), the second start (checksum skip only) and
# a start after one file changed. Prints figures; no pass or fail.
# Usage: scripts/bench.sh [MiB of data, default 256]
# QUORIN_BENCH_REPEAT=N: time N first starts, each on an emptied target, and
# print their median and the fastest (default 1).
# QUORIN_COMPARE_PACK=PATH: also build the same payload with another packer (a
# saved build: it links the launcher library from its own ../lib) and time its
# first starts in turn with this build's, for a before/after figure.
# QUORIN_BENCH_PACK=0: leave out the packer's throughput.
# QUORIN_BENCH_DIR: where the payload, the launchers and the Wine prefix go
# (default /tmp; /dev/shm takes the disk out of the figures).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
size_mib=${1:-256}
repeat=${QUORIN_BENCH_REPEAT:-1}
compare=${QUORIN_COMPARE_PACK:-}
[ -x build/bin/quorin-pack ] || { echo "build first: bash scripts/test.sh (or cmake --preset default && cmake --build --preset default)" >&2; exit 2; }

work=$(mktemp -d "${QUORIN_BENCH_DIR:-/tmp}/quorin-bench.XXXXXX")
prefix=$work/wineprefix
trap 'WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
app=$work/app
mkdir -p "$app"
cp build/windows/programs/probe_child.exe "$app/app.exe"

# Half incompressible, half text-like; 300 files in 30 folders.
files=300
per_file=$(( size_mib * 1024 * 1024 / files ))
for i in $(seq 1 $files); do
  dir="$app/dir$(( i % 30 ))"
  mkdir -p "$dir"
  if [ $(( i % 2 )) -eq 0 ]; then
    head -c "$per_file" /dev/urandom > "$dir/file$i.bin"
  else
    { yes "line $i of some text that compresses well, with a number $RANDOM" || true; } | head -c "$per_file" > "$dir/file$i.txt"
  fi
done
total=$(du -sb "$app" | cut -f1)

start=$(date +%s.%N)
build/bin/quorin-pack build --quiet --input "$app" --child app.exe --output "$work/bench.exe" \
  --spec '{TEMP}\quorin-bench'
end=$(date +%s.%N)
exe_size=$(stat -c %s "$work/bench.exe")
if [ -n "$compare" ]; then
  "$compare" build --quiet --input "$app" --child app.exe --output "$work/before.exe" --spec '{TEMP}\quorin-bench'
fi

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# One CPU for the launcher and the wineserver: steadier figures under Wine.
taskset -c 0 scripts/wine-prefix start "$prefix" >/dev/null
run() {
  local s e
  s=$(date +%s.%N)
  QUORIN_PROBE_REPORT='NUL' taskset -c 0 wine "$work/${1:-bench}.exe" >/dev/null 2>&1
  e=$(date +%s.%N)
  echo "$e - $s" | bc
}
median() { tr ' ' '\n' | sed '/^$/d' | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
fastest() { tr ' ' '\n' | sed '/^$/d' | sort -g | head -n 1; }
first=$(run)
temp_dir=$(ls -d "$prefix"/drive_c/users/*/Temp/quorin-bench 2>/dev/null || ls -d "$prefix"/drive_c/users/*/AppData/Local/Temp/quorin-bench)
# Each first start on an emptied target, with what the one before wrote on
# disk already; with a second build the two take turns going first.
fresh() { rm -rf "$temp_dir"; sync; }
firsts=$first
befores=""
for i in $(seq 1 "$repeat"); do
  if [ -n "$compare" ] && [ $(( i % 2 )) -eq 1 ]; then fresh; befores="$befores $(run before)"; fi
  if [ "$i" -gt 1 ]; then fresh; firsts="$firsts $(run)"; fi
  if [ -n "$compare" ] && [ $(( i % 2 )) -eq 0 ]; then fresh; befores="$befores $(run before)"; fi
done
first=$(echo "$firsts" | median)
second=$(run)
third=$(run)
echo changed >> "$(ls "$temp_dir"/dir1/*.txt | head -n 1)"
changed=$(run)

mib=$(echo "$total / 1048576" | bc -l)
printf 'payload            %8.1f MiB in %d files, launcher %.1f MiB (%.1f%%)\n' "$mib" "$files" \
  "$(echo "$exe_size / 1048576" | bc -l)" "$(echo "100 * $exe_size / $total" | bc -l)"
printf 'pack (build)       %8.2f s   %8.1f MiB/s\n' "$(echo "$end - $start" | bc)" "$(echo "$mib / ($end - $start)" | bc -l)"
printf 'first start        %8.2f s   %8.1f MiB/s unpacked\n' "$first" "$(echo "$mib / $first" | bc -l)"
if [ "$repeat" -gt 1 ]; then
  printf '  median of %d, fastest %.2f s (all: %s)\n' "$repeat" "$(echo "$firsts" | fastest)" "$firsts"
fi
if [ -n "$compare" ]; then
  before=$(echo "$befores" | median)
  printf 'first start, other %8.2f s   (median of %d, fastest %.2f s; all: %s)\n' "$before" "$repeat" \
    "$(echo "$befores" | fastest)" "$befores"
  printf 'this / other       %8.3f (medians), %.3f (fastest)\n' "$(echo "$first / $before" | bc -l)" \
  "$(echo "$(echo "$firsts" | fastest) / $(echo "$befores" | fastest)" | bc -l)"
fi
printf 'second start       %8.2f s   %8.1f MiB/s checked (nothing written)\n' "$second" "$(echo "$mib / $second" | bc -l)"
printf 'third start        %8.2f s\n' "$third"
printf 'one file changed   %8.2f s\n' "$changed"
if [ "${QUORIN_BENCH_PACK:-1}" != 0 ] && [ -x scripts/bench-pack.sh ]; then bash scripts/bench-pack.sh; fi
