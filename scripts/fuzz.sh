#!/usr/bin/env bash
# Builds the fuzzers (tests/fuzz: libFuzzer targets over the launcher's pure
# code and the packer's readers of programs, icons and launchers, built with
# Debian's clang and the address and undefined-behaviour sanitizers) into
# build/fuzz, replays the inputs kept under
# tests/fuzz/regressions/<target>/, runs each target for SECONDS_PER_TARGET
# (default 60), one after the other, and prints one table of executions and
# findings. Exits 1 when anything was found; each finding's input is kept in
# build/fuzz/findings/<target>/ and its log in build/fuzz/logs/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

seconds=${1:-60}
case "$seconds" in
  '' | *[!0-9]* | 0) echo "usage: scripts/fuzz.sh [SECONDS_PER_TARGET]" >&2; exit 2 ;;
esac
build=${QUORIN_FUZZ_DIR:-build/fuzz}
targets=(archive launcher program icon index record spec entry_name command_line)

# The same configuration as the main build's (cmake/host.cmake).
if [ ! -f "$build/build.ninja" ]; then
  cmake -S tests/fuzz -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
fi
if ! log=$(cmake --build "$build" 2>&1); then
  echo "$log" >&2
  echo "fuzz: the build failed" >&2
  exit 1
fi

export UBSAN_OPTIONS=print_stacktrace=1
artifacts() { find "$1" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l; }

rows=()
failed=0
for target in "${targets[@]}"; do
  fuzzer="$build/fuzz_$target"
  corpus="$build/corpus/$target"
  found="$build/findings/$target"
  logs="$build/logs"
  mkdir -p "$corpus" "$found" "$logs"
  findings=0

  # Every kept regression input runs once and must pass.
  regressions=()
  if [ -d "tests/fuzz/regressions/$target" ]; then
    mapfile -t regressions < <(find "tests/fuzz/regressions/$target" -type f | sort)
  fi
  if [ ${#regressions[@]} -gt 0 ] &&
     ! "$fuzzer" -artifact_prefix="$found/" "${regressions[@]}" >"$logs/$target.regressions.log" 2>&1; then
    findings=$((findings + 1))
    echo "fuzz: $target: a regression input fails again, see $logs/$target.regressions.log" >&2
  fi

  before=$(artifacts "$found")
  # Inputs above a target's limit are skipped by its harness; see tests/fuzz/<target>_fuzz.cpp.
  status=0
  "$fuzzer" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 -artifact_prefix="$found/" \
    "$corpus" "$build/seeds/$target" >"$logs/$target.log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$logs/$target.log" | tail -n 1)
  new=$(($(artifacts "$found") - before))
  # A failed run that left no input behind is a finding all the same.
  if [ "$status" -ne 0 ] && [ "$new" -eq 0 ]; then new=1; fi
  if [ "$new" -gt 0 ]; then
    echo "fuzz: $target: finding, see $logs/$target.log and $found/" >&2
  fi
  findings=$((findings + new))
  [ "$findings" -gt 0 ] && failed=1
  rows+=("$(printf '%-14s %11s %12s %9s %9s' "$target" "${#regressions[@]}" "${executions:-0}" "$(find "$corpus" -type f | wc -l)" "$findings")")
done

printf 'fuzz: %s s per target\n' "$seconds"
printf '%-14s %11s %12s %9s %9s\n' target regressions executions corpus findings
printf '%s\n' "${rows[@]}"
exit "$failed"
