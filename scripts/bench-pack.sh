#!/usr/bin/env bash
# Packing throughput: makes a synthetic application folder of mixed
# compressible and incompressible files under /tmp, then times
# `quorin-pack archive` and `quorin-pack build` on it and prints MB/s.
# Figures only, no pass/fail.
# Usage: scripts/bench-pack.sh [BUILD_DIR] [SIZE_MB]   (defaults: build, 300)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build_dir=${1:-build}
size_mb=${2:-300}
pack="$build_dir/bin/quorin-pack"
[ -x "$pack" ] || { echo "bench-pack: no packer at $pack (build first)" >&2; exit 1; }

work=$(mktemp -d /tmp/quorin-bench-pack.XXXXXX)
trap 'rm -rf "$work"' EXIT
tree="$work/tree"

# About 40% random bytes (does not shrink), 60% text made of words drawn at
# random from a small vocabulary (shrinks about four to one), in files from a
# few KB to tens of MB, some in nested folders. The same tree on every run.
python3 - "$tree" "$size_mb" <<'PY'
import os, random, sys
tree, size_mb = sys.argv[1], int(sys.argv[2])
rng = random.Random(20260923)
words = [''.join(rng.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rng.randint(2, 10))) for _ in range(5000)]
os.makedirs(tree)
with open(os.path.join(tree, 'app.exe'), 'wb') as f:
    f.write(b'MZ' + rng.randbytes(2 << 20))
total, target, n = 0, size_mb << 20, 0
while total < target:
    size = min(target - total, int(rng.choice([4e3, 6e4, 5e5, 4e6, 2.4e7])))
    folder = os.path.join(tree, 'lib', 'mod%d' % (n % 7), 'sub%d' % (n % 3))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, 'file%04d.%s' % (n, 'bin' if n % 5 < 2 else 'txt')), 'wb') as f:
        if n % 5 < 2:
            f.write(rng.randbytes(size))
        else:
            text = bytearray()
            while len(text) < size:
                text += (' '.join(rng.choices(words, k=64)) + '\n').encode()
            f.write(bytes(text[:size]))
    total += size
    n += 1
print('bench-pack: %d files, %.0f MB in %s' % (n + 1, (total + (2 << 20) + 2) / 1e6, tree))
PY

input_bytes=$(du -sb "$tree" | cut -f1)
seconds() { local start end; start=$(date +%s%N); "$@" >/dev/null; end=$(date +%s%N); awk -v n=$((end - start)) 'BEGIN { printf "%.3f", n / 1e9 }'; }
report() {  # label seconds
  awk -v label="$1" -v s="$2" -v bytes="$input_bytes" 'BEGIN { printf "%-34s %7.2f s  %8.1f MB/s\n", label, s, bytes / 1e6 / s }'
}

echo "bench-pack: $(nproc) cores, input $((input_bytes / 1000000)) MB"
# Read the tree once so that the first run is not the only one reading the disk.
cat $(find "$tree" -type f) >/dev/null
for level in 3 9; do
  t=$(seconds "$pack" archive --quiet --input "$tree" --child app.exe --output "$work/attached.bin" --level "$level")
  report "archive --level $level" "$t"
  t=$(seconds "$pack" archive --quiet --input "$tree" --child app.exe --output "$work/attached.bin" --level "$level" --threads 1)
  report "archive --level $level --threads 1" "$t"
done
awk -v c="$(stat -c %s "$work/attached.bin")" -v bytes="$input_bytes" \
  'BEGIN { printf "%-34s %7.1f %% of the input\n", "compressed size (level 9)", c * 100 / bytes }'
t=$(seconds "$pack" build --quiet --input "$tree" --child app.exe --output "$work/app.exe")
report "build (level 9)" "$t"
t=$(seconds "$pack" verify --quiet "$work/app.exe")
report "verify the launcher (decode, check)" "$t"
t=$(seconds "$pack" extract --quiet "$work/app.exe" --output "$work/extracted")
report "extract the launcher" "$t"

