#!/usr/bin/env bash
# Installs everything the build and the tests need, from Debian's packages only,
# and builds a static libzstd for x86_64-w64-mingw32 from Debian's source package.
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
  dpkg-dev python3 bc python3-matplotlib
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

# libzstd for Windows: built once from Debian's source package.
if [ ! -f "$zstd_prefix/lib/libzstd.a" ] || [ ! -f "$zstd_prefix/include/zstd.h" ]; then
  if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
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
  fi
  src="$deps/src"
  rm -rf "$src" && mkdir -p "$src"
  # A mirror may list a source version it does not serve (the security suite's
  # can 404); try every version apt knows, newest first.
  fetched=0
  for v in $(apt-cache showsrc libzstd | sed -n 's/^Version: //p' | sort -rV | uniq); do
    if (cd "$src" && apt-get source -qq --download-only "libzstd=$v" >/dev/null 2>&1); then fetched=1; break; fi
    rm -f "$src"/*
  done
  [ "$fetched" = 1 ] || { echo "setup: could not fetch the libzstd source package" >&2; exit 1; }
  dsc=$(ls "$src"/libzstd_*.dsc | head -n 1)
  (cd "$src" && dpkg-source -x "$dsc" zstd >/dev/null)
  echo "setup: building libzstd (decompression) for x86_64-w64-mingw32"
  make -s -C "$src/zstd/lib" -j"$(nproc)" libzstd.a \
    CC=x86_64-w64-mingw32-gcc AR=x86_64-w64-mingw32-ar \
    CFLAGS="-O2 -DNDEBUG" ZSTD_LIB_COMPRESSION=0 ZSTD_LIB_DICTBUILDER=0 ZSTD_LIB_DEPRECATED=0 \
    ZSTD_LEGACY_SUPPORT=0 >/dev/null
  mkdir -p "$zstd_prefix/lib" "$zstd_prefix/include"
  cp "$src/zstd/lib/libzstd.a" "$zstd_prefix/lib/"
  cp "$src/zstd/lib/zstd.h" "$src/zstd/lib/zstd_errors.h" "$zstd_prefix/include/"
  rm -rf "$src"
fi

echo "setup: ready"
