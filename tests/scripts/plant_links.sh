#!/usr/bin/env bash
# Plants the folder and file links of the staging test's link cases from the
# Unix side, for a run under Wine: Wine 8.0's CreateSymbolicLinkW makes
# nothing and it has no FSCTL_SET_REPARSE_POINT, but it shows a Unix symbolic
# link to a folder as a folder that is a reparse point, and a Unix symbolic
# link to a file as a file. On Windows the test makes its own links.
# Usage: plant_links.sh ROOT (emptied first; rm does not follow links).
set -euo pipefail
root=$1
rm -rf "$root"
mkdir -p "$root/user-data" "$root/target" "$root/real-target" "$root/file-target"
printf 'kept' > "$root/user-data/keep.txt"
printf 'left by a killed run' > "$root/user-data/~quorin-1-1.tmp"
touch -d '2020-01-01 00:00:00' "$root/user-data/~quorin-1-1.tmp"
printf 'the user'"'"'s own' > "$root/user-data/file.txt"
ln -s "$root/user-data" "$root/target/data"
ln -s "$root/real-target" "$root/moved-target"
ln -s "$root/user-data/file.txt" "$root/file-target/file.txt"
