#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: the host tests
# natively, the Windows tests under Wine in a prefix inside build/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
if ctest --preset default "$@"; then exit 0; fi
# Wine under load now and then refuses to start a process or loses one at
# start-up, whatever the test: the failed tests run once more, and
# are named either way, so a fault that comes back is still a failure.
failed="$(cut -d: -f2 build/Testing/Temporary/LastTestsFailed.log | tr '\n' ' ')"
echo "test.sh: failed on the first run: ${failed}- running them once more"
ctest --preset default --rerun-failed
echo "test.sh: passed on a second run (flaky under Wine, see the first run's output above): ${failed}"
