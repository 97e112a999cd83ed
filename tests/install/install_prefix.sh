#!/usr/bin/env bash
# Installs the build into a scratch prefix with `cmake --install`, then moves
# the prefix elsewhere (an installed packer must not depend on where it was
# installed, nor on the build tree), and checks that it holds exactly the
# files it should. Writes only under SCRATCH.
#   install_prefix.sh BUILD_DIR SCRATCH   -> SCRATCH/prefix
set -euo pipefail
build=$1 scratch=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
rm -rf "$scratch" && mkdir -p "$scratch"
cmake --install "$build" --prefix "$scratch/installed" >/dev/null
mv "$scratch/installed" "$scratch/prefix"

actual=$(cd "$scratch/prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
if [ "$actual" != "$(LC_ALL=C sort "$here/expected_layout.txt")" ]; then
  echo "the installed files differ from tests/install/expected_layout.txt:" >&2
  diff <(LC_ALL=C sort "$here/expected_layout.txt") <(echo "$actual") >&2 || true
  exit 1
fi
# Each option of the man page is tagged with its forms and value, no part of
# them empty (as "\fB\fR, --input" for an option without a short form).
if grep -n '\\f[BI]\\fR' "$scratch/prefix/share/man/man1/quorin-pack.1" >&2; then
  echo "the man page has an empty option part (above)" >&2
  exit 1
fi
echo "installed into $scratch/prefix: $(wc -l <<<"$actual") files"
