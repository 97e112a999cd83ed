#!/usr/bin/env bash
# Builds tests/cmake_package with mingw against an installed CMake package, runs
# both its launchers under Wine and checks the program's output and exit code;
# then checks that a build with nothing to do does not repack and that a changed
# data file does. Writes under SCRATCH and the Wine prefix's cache folders.
#   cmake_package.sh PREFIX SOURCE_DIR TOOLCHAIN_FILE SCRATCH
set -euo pipefail
prefix=$(realpath "$1") source=$2 toolchain=$(realpath "$3") scratch=$4
rm -rf "$scratch" && mkdir -p "$scratch"
cp -r "$source" "$scratch/src"
cmake -S "$scratch/src" -B "$scratch/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/build" >/dev/null

# run LAUNCHER MESSAGE: the launcher prints the program's three lines, MESSAGE last, and exits 42.
fail=0
run() {
  local launcher=$1 message=$2 report code
  # Into a file, not a pipe: a desktop process Wine starts on the way
  # inherits the output and would hold a pipe open after the launcher ends.
  set +e
  wine "$launcher" "an argument" >"$scratch/report" 2>&1
  code=$?
  set -e
  report=$(<"$scratch/report")
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
