#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test: the host tests
# natively, the Windows tests under Wine in a prefix inside build/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default "$@"
