#!/usr/bin/env bash
# Makes the .deb with CPack, checks its fields (the libraries the packer links
# among the dependencies) and its files, and extracts it into a scratch root
# with dpkg-deb -x (no dpkg -i). Writes only under SCRATCH.
#   install_deb.sh BUILD_DIR SCRATCH   -> SCRATCH/root/usr/...
set -euo pipefail
build=$1 scratch=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
rm -rf "$scratch" && mkdir -p "$scratch"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >/dev/null
debs=("$scratch"/out/quorin_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "cpack made no single quorin_*.deb in $scratch/out" >&2; exit 1; }
deb=${debs[0]}

fail=0
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libzstd1 libdeflate0; do
  [[ ", $depends," == *", $library "* || ", $depends," == *", $library,"* ]] ||
    { echo "Depends lacks $library: $depends" >&2; fail=1; }
done
for field in Package Version Architecture Maintainer Description Section; do
  [ -n "$(dpkg-deb -f "$deb" "$field")" ] || { echo "the .deb has no $field field" >&2; fail=1; }
done

dpkg-deb -x "$deb" "$scratch/root"
actual=$(cd "$scratch/root/usr" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
if [ "$actual" != "$(LC_ALL=C sort "$here/expected_layout.txt")" ]; then
  echo "the files of the .deb under /usr differ from tests/install/expected_layout.txt:" >&2
  diff <(LC_ALL=C sort "$here/expected_layout.txt") <(echo "$actual") >&2 || true
  fail=1
fi
[ -z "$(cd "$scratch/root" && find . -mindepth 1 -maxdepth 1 ! -name usr)" ] ||
  { echo "the .deb installs outside /usr" >&2; fail=1; }
[ $fail -eq 0 ] || exit 1
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes; Depends: $depends"
