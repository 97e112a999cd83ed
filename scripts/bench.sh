#!/usr/bin/env bash
# The launcher benchmark: sets up and builds as the tests do, then runs
# bench/run.py, which makes and packs its payloads (once, cached in
# build/bench), times the launcher under Wine beside the reference of each
# figure and prints one table; the figures go to build/bench/results.json and
# the chart to build/bench/start-times.png. Figures only, no pass or fail.
# With --baseline REF, run.py also builds the packer of commit REF (in a
# worktree under build/bench/baseline) and times its launcher beside this one.
# Usage: scripts/bench.sh [--runs N] [--only NAMES] [--baseline REF] [--note TEXT] ... (--help)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
case " $* " in
  *" --help "* | *" -h "* | *" --report "*) ;;
  *)
    bash scripts/setup.sh >&2
    [ -f build/build.ninja ] || cmake --preset default >&2
    cmake --build --preset default >&2
    ;;
esac
# Debian's python3, which has matplotlib, even where another one comes first
# on PATH.
python=/usr/bin/python3
[ -x "$python" ] || python=python3
exec "$python" bench/run.py "$@"
