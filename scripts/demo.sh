#!/usr/bin/env bash
# Sets up the machine, builds the packer and the launcher, packs the demo
# application (demo/app and demo/data) into build/demo/Demo.exe and runs it
# under Wine, where it unpacks into the user's local application-data folder
# and runs the demo with the arguments given here.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target quorin-pack quorin_windows

app=build/demo/app
rm -rf "$app" && mkdir -p "$app"
cp build/windows/demo/Demo.exe "$app/"
cp -r demo/data "$app/data"
build/bin/quorin-pack build --input "$app" --child Demo.exe --output build/demo/Demo.exe
echo "packed: build/demo/Demo.exe ($(stat -c %s build/demo/Demo.exe) bytes)"
echo

prefix="$PWD/build/wineprefix"
scripts/wine-prefix start "$prefix" >/dev/null
trap 'scripts/wine-prefix stop "$prefix" >/dev/null' EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
set +e
wine build/demo/Demo.exe "hello world" --colour=teal
code=$?
set -e
echo
echo "the launcher ended with exit code $code (the demo's own)"
