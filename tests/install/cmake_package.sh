#!/usr/bin/env bash
# Builds tests/cmake_package against an installed CMake package: a Windows
# program and its DLL built with mingw and packed by quorin_add_launcher() in
# two ways; runs both launchers under Wine (the run's prefix and wineserver,
# from the environment) and checks what the program printed and its exit code.
# Then changes one data file and checks that only a build that has work to do
# repacks, and that the new launcher carries the change. Writes only under
# SCRATCH and, in the Wine prefix, the cache folders the test project names.
#   cmake_package.sh PREFIX SOURCE_DIR TOOLCHAIN_FILE SCRATCH
set -euo pipefail
prefix=$(realpath "$1") source=$2 toolchain=$(realpath "$3") scratch=$4
rm -rf "$scratch" && mkdir -p "$scratch"
cp -r "$source" "$scratch/src"
cmake -S "$scratch/src" -B "$scratch/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/build" >/dev/null

# run LAUNCHER MESSAGE: the program's lines and exit code, as it prints them.
fail=0
run() {
  local launcher=$1 message=$2 report code
  set +e
  report=$(wine "$launcher" "an argument" 2>&1)
  code=$?
  set -e
  report=${report//$'\r'/}
  local expected=$'greet: greetings from greet.dll\nargument: an argument\nmessage: '"$message"
  if [ $code -ne 42 ] || [ "$report" != "$expected" ]; then
    printf '%s: exit code %s (expected 42), printed:\n%s\nexpected:\n%s\n' "$launcher" $code "$report" "$expected" >&2
    fail=1
  fi
}
run "$scratch/build/hello-onefile.exe" "the first message"
run "$scratch/build/dist/Hello.exe" "the first message"

again=$(cmake --build "$scratch/build")
if [[ $again == *"Packing the launcher"* ]]; then
  printf 'a second build packed again:\n%s\n' "$again" >&2
  fail=1
fi
echo "a changed message" >"$scratch/src/data/docs/message.txt"
cmake --build "$scratch/build" >/dev/null
run "$scratch/build/hello-onefile.exe" "a changed message"
run "$scratch/build/dist/Hello.exe" "a changed message"
[ $fail -eq 0 ] || exit 1
echo "both launchers ran the program with its DLL, and were packed again after a data file changed"
