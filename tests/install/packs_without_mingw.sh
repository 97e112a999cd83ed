#!/usr/bin/env bash
# Packs a folder with an installed packer while PATH holds no mingw tool (only
# wine), verifies the launcher, runs it under Wine and checks that the child ran
# from the cache folder with its argument and exit code. Writes under SCRATCH
# and the Wine prefix's cache folder named by TAG.
#   packs_without_mingw.sh PACKER PROGRAM.exe SCRATCH TAG
set -euo pipefail
packer=$1 program=$2 scratch=$3 tag=$4
rm -rf "$scratch" && mkdir -p "$scratch/app/data" "$scratch/path"
cp "$program" "$scratch/app/"
child=$(basename "$program")
printf 'data\n' >"$scratch/app/data/notes.txt"
ln -s "$(command -v wine)" "$scratch/path/wine"

export PATH="$scratch/path"
IFS=: read -r -a path_dirs <<<"$PATH"
for dir in "${path_dirs[@]}"; do
  for tool in "$dir"/x86_64-w64-mingw32-*; do
    if [ -e "$tool" ]; then echo "a mingw tool is on PATH: $tool" >&2; exit 1; fi
  done
done
if compgen -c x86_64-w64-mingw32- >/dev/null; then
  echo "a mingw tool is still found: $(compgen -c x86_64-w64-mingw32- | head -n 1)" >&2
  exit 1
fi

"$packer" build --input "$scratch/app" --child "$child" --output "$scratch/app.exe" --quiet \
  --spec "{CACHE_DIR}\\quorin-tests\\$tag"
"$packer" verify "$scratch/app.exe" --quiet

set +e
report=$(QUORIN_PROBE_EXIT=7 wine "$scratch/app.exe" "hello world" 2>&1)
code=$?
report=${report//$'\r'/}  # the child writes CRLF line ends
set -e
fail=0
[ $code -eq 7 ] || { echo "the launcher exited with $code, not the child's 7" >&2; fail=1; }
[[ $report == *$'\nargv[1]=hello world\n'* ]] || { echo "the child did not get its argument" >&2; fail=1; }
[[ $report == *$'\nmodule=C:\\'*"\\quorin-tests\\$tag\\$child"$'\n'* ]] ||
  { echo "the child did not run from the cache folder" >&2; fail=1; }
if [ $fail -ne 0 ]; then
  printf 'what the child reported:\n%s\n' "$report" >&2
  exit 1
fi
echo "packed with no mingw tool on PATH; the launcher ran $child from the cache folder"
