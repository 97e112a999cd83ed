#!/usr/bin/env bash
# The long forms of the reliability tests under Wine, in a prefix and a
# fixtures folder of their own under /tmp: simultaneous starts (also of a
# per-run launcher), kills in the middle of unpacking, damaged data, a full
# disk (as root), long child paths.
# Each test prints its figures; a failed test is a found fault. Run it under
# nice -n 10 on a shared machine. Build first (bash scripts/test.sh).
# Usage: scripts/stress.sh [--pack PATH]
#   --pack PATH  build the launchers with another packer, e.g. a saved build
#                of an earlier commit (it links the launcher library from its
#                own ../lib), for the figures before a change
# QUORIN_STRESS_ONLY="name ..." runs only those of the tests below.
# Counts: QUORIN_ROUNDS (default 200), QUORIN_KILLS (30), QUORIN_KILL_MIB
# (316), QUORIN_MUTANTS (300); QUORIN_SEED fixes the kill moments.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
pack=$root/build/bin/quorin-pack
if [ "${1:-}" = "--pack" ]; then pack=$(readlink -f "$2"); shift 2; fi
[ -x "$pack" ] && [ -x build/quorin_make_fixtures ] || { echo "build first: bash scripts/test.sh" >&2; exit 2; }

export QUORIN_ROUNDS=${QUORIN_ROUNDS:-200} QUORIN_KILLS=${QUORIN_KILLS:-30}
export QUORIN_KILL_MIB=${QUORIN_KILL_MIB:-316} QUORIN_MUTANTS=${QUORIN_MUTANTS:-300}
work=$(mktemp -d /tmp/quorin-stress.XXXXXX)
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export QUORIN_FIXTURES=$work/fixtures QUORIN_FULL_DISK_DRIVE=U:
cleanup() {
  scripts/full-disk-drive unmount "$WINEPREFIX" "$work/full-disk" >/dev/null 2>&1 || true
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "stress: packing with $pack ($QUORIN_MUTANTS mutants, a tree of $QUORIN_KILL_MIB MiB)"
QUORIN_FIXTURE_SUBJECTS=reliability,mutants,folder build/quorin_make_fixtures "$pack" build/windows/programs \
  "$QUORIN_FIXTURES" 2>&1 | grep -v 'quorin-pack: warning' || true
[ -f "$QUORIN_FIXTURES/stamp" ] || { echo "stress: the fixtures failed to build" >&2; exit 1; }
scripts/wine-prefix start "$WINEPREFIX" >/dev/null
scripts/full-disk-drive mount "$WINEPREFIX" "$work/full-disk"

passed=0 failed=0
for test in ${QUORIN_STRESS_ONLY:-payload_busy_test payload_target_folder_test killed_launchers payload_mutant_test payload_full_disk_test child_long_path_test}; do
  log=$work/$test.log
  start=$(date +%s)
  if [ "$test" = killed_launchers ]; then
    command=(bash tests/scripts/killed_launchers.sh "$QUORIN_FIXTURES")
  else
    command=(wine "build/windows/tests/$test.exe")
  fi
  if "${command[@]}" >"$log" 2>&1; then passed=$((passed + 1)); result=passed; else failed=$((failed + 1)); result=FAILED; fi
  echo "$test: $result in $(( $(date +%s) - start )) s"
  grep -aE '^(simultaneous (per-run )?starts|per-run kills|five releases|removal of an older build|killed mid-unpack|kill [0-9]+:|damaged data|child path|full disk|  the next start|\[  SKIPPED)' "$log" | sed 's/^/  /' || true
  if [ "$result" = FAILED ]; then
    # What each failed round or case said, then the failed tests.
    grep -aE -A3 '^round [0-9]+: ' "$log" | head -40 | sed 's/^/  /' || true
    grep -aE '^\[  FAILED  \]' "$log" | sort -u | sed 's/^/  /' || true
  fi
done
echo "stress: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
