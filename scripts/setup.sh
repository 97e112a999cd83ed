#!/usr/bin/env bash
# Installs everything the build and the tests need, from Debian's packages only,
# and builds static libraries for x86_64-w64-mingw32 from Debian's source
# packages into .deps/: libzstd twice (decompression only, for the launcher;
# whole with worker threads, for the Windows packer) and libdeflate.
# Idempotent: a second run checks and returns quickly, changing nothing.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps="$here/.deps"
zstd_prefix="$deps/zstd-mingw"

packages=(
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev libz-mingw-w64-dev
  wine wine64
  cmake ninja-build make g++ pkg-config
  googletest libzstd-dev zlib1g-dev zstd
  libdeflate-dev
  dpkg-dev python3 bc python3-matplotlib help2man
  openssl osslsigncode
  clang libclang-rt-dev
  xvfb xauth x11-utils x11-apps
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The mingw compilers must use the posix thread model (std::thread, std::mutex).
for tool in x86_64-w64-mingw32-g++ x86_64-w64-mingw32-gcc; do
  current=$(readlink -f "$(command -v $tool)")
  case "$current" in
    *-posix) ;;
    *) "${sudo_cmd[@]}" update-alternatives --set $tool "/usr/bin/$tool-posix" >/dev/null ;;
  esac
done

# Debian's source packages, for the libraries built here for Windows.
add_source_entries() {
  if grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ || grep -qs '^deb-src' /etc/apt/sources.list; then
    return
  fi
  echo "setup: adding deb-src entries for the configured Debian sources"
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    out="/etc/apt/sources.list.d/quorin-src-$(basename "$f")"
    sed -e 's/^Types:[[:space:]]*deb$/Types: deb-src/' "$f" | "${sudo_cmd[@]}" tee "$out" >/dev/null
  done
  if [ -f /etc/apt/sources.list ]; then
    grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      "${sudo_cmd[@]}" tee /etc/apt/sources.list.d/quorin-src.list >/dev/null || true
  fi
  "${sudo_cmd[@]}" apt-get update -qq
}

# Unpacks source package $1 into directory $2/$3.
fetch_source() {
  local package=$1 into=$2 name=$3
  add_source_entries
  rm -rf "$into" && mkdir -p "$into"
  # A mirror may list a source version it does not serve (the security suite's
  # can 404); try every version apt knows, newest first.
  local fetched=0
  for v in $(apt-cache showsrc "$package" | sed -n 's/^Version: //p' | sort -rV | uniq); do
    if (cd "$into" && apt-get source -qq --download-only "$package=$v" >/dev/null 2>&1); then fetched=1; break; fi
    rm -f "$into"/*
  done
  [ "$fetched" = 1 ] || { echo "setup: could not fetch the $package source package" >&2; exit 1; }
  local dsc
  dsc=$(ls "$into"/*.dsc | head -n 1)
  (cd "$into" && dpkg-source -x "$dsc" "$name" >/dev/null)
}

# libzstd for Windows, from Debian's source package, twice: decompression
# only for the launcher, and whole with worker threads for the packer's
# Windows build.
zstd_full_prefix="$deps/zstd-mingw-full"
if [ ! -f "$zstd_prefix/lib/libzstd.a" ] || [ ! -f "$zstd_prefix/include/zstd.h" ] ||
   [ ! -f "$zstd_full_prefix/lib/libzstd.a" ]; then
  src="$deps/src"
  fetch_source libzstd "$src" zstd
  zstd_make=(make -s -C "$src/zstd/lib" -j"$(nproc)" libzstd.a CC=x86_64-w64-mingw32-gcc AR=x86_64-w64-mingw32-ar)
  echo "setup: building libzstd (decompression) for x86_64-w64-mingw32"
  "${zstd_make[@]}" CFLAGS="-O2 -DNDEBUG" ZSTD_LIB_COMPRESSION=0 ZSTD_LIB_DICTBUILDER=0 ZSTD_LIB_DEPRECATED=0 \
    ZSTD_LEGACY_SUPPORT=0 >/dev/null
  mkdir -p "$zstd_prefix/lib" "$zstd_prefix/include"
  cp "$src/zstd/lib/libzstd.a" "$zstd_prefix/lib/"
  cp "$src/zstd/lib/zstd.h" "$src/zstd/lib/zstd_errors.h" "$zstd_prefix/include/"
  echo "setup: building libzstd (compression, threads) for x86_64-w64-mingw32"
  make -s -C "$src/zstd/lib" clean >/dev/null
  "${zstd_make[@]}" CFLAGS="-O2 -DNDEBUG" CPPFLAGS="-DZSTD_MULTITHREAD" ZSTD_LIB_DICTBUILDER=0 \
    ZSTD_LIB_DEPRECATED=0 ZSTD_LEGACY_SUPPORT=0 >/dev/null
  mkdir -p "$zstd_full_prefix/lib" "$zstd_full_prefix/include"
  cp "$src/zstd/lib/libzstd.a" "$zstd_full_prefix/lib/"
  cp "$src/zstd/lib/zstd.h" "$src/zstd/lib/zstd_errors.h" "$src/zstd/lib/zdict.h" "$zstd_full_prefix/include/"
  rm -rf "$src"
fi

# libdeflate for Windows (its CRC-32 with carry-less multiplication), from
# Debian's source package.
deflate_prefix="$deps/libdeflate-mingw"
if [ ! -f "$deflate_prefix/lib/libdeflate.a" ] || [ ! -f "$deflate_prefix/include/libdeflate.h" ]; then
  src="$deps/src"
  fetch_source libdeflate "$src" libdeflate
  echo "setup: building libdeflate for x86_64-w64-mingw32"
  # For a mingw compiler its Makefile names the static library libdeflatestatic.lib.
  make -s -C "$src/libdeflate" -j"$(nproc)" libdeflatestatic.lib CC=x86_64-w64-mingw32-gcc AR=x86_64-w64-mingw32-ar \
    CFLAGS="-O2 -DNDEBUG" >/dev/null
  mkdir -p "$deflate_prefix/lib" "$deflate_prefix/include"
  cp "$src/libdeflate/libdeflatestatic.lib" "$deflate_prefix/lib/libdeflate.a"
  cp "$src/libdeflate/libdeflate.h" "$deflate_prefix/include/"
  rm -rf "$src"
fi

echo "setup: ready"
