#!/usr/bin/env bash
# Installs everything the builds and tests need on a Debian 12 machine and fetches the
# pinned zstd source. Safe to run again: every step checks first.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
zstd_version=1.5.7
zstd_debian_version=1.5.7+dfsg-1
zstd_suite=trixie
deps_dir="$root/.deps"

packages=(
  cmake make dpkg-dev python3 wine
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
  wine64 libz-mingw-w64-dev zlib1g-dev googletest libgtest-dev clang-format
  man-db groff-base openssl osslsigncode faketime time zip python3-matplotlib
  clang libclang-rt-14-dev nlohmann-json3-dev
  xvfb x11-utils imagemagick
)

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# zstd 1.5.7 is taken from the next Debian release's source archive; the binary
# suites stay as they are.
src_list=/etc/apt/sources.list.d/talvik-zstd-src.sources
need_update=0
if ! grep -rqsE "deb-src.*$zstd_suite|Types:.*deb-src" /etc/apt/sources.list /etc/apt/sources.list.d/ ||
   ! grep -rqs "$zstd_suite" /etc/apt/sources.list /etc/apt/sources.list.d/; then
  as_root tee "$src_list" >/dev/null <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $zstd_suite
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  need_update=1
fi

if [ ${#missing[@]} -gt 0 ] || [ $need_update = 1 ]; then
  as_root apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The mingw compilers must be the posix-thread flavour (std::thread in the test programs).
for tool in x86_64-w64-mingw32-gcc x86_64-w64-mingw32-g++; do
  current=$(readlink -f "/usr/bin/$tool" || true)
  case "$current" in
    *-posix) ;;
    *) as_root update-alternatives --set "$tool" "/usr/bin/$tool-posix" ;;
  esac
done

zstd_src="$deps_dir/zstd-$zstd_version"
if [ ! -f "$zstd_src/lib/zstd.h" ]; then
  mkdir -p "$deps_dir"
  tmp=$(mktemp -d "$deps_dir/fetch.XXXXXX")
  (cd "$tmp" && apt-get source --download-only -qq "libzstd=$zstd_debian_version" >/dev/null 2>&1) || {
    as_root apt-get update -qq
    (cd "$tmp" && apt-get source --download-only -qq "libzstd=$zstd_debian_version")
  }
  (cd "$tmp" && dpkg-source --no-check -x ./*.dsc src >/dev/null)
  rm -rf "$zstd_src"
  mv "$tmp/src" "$zstd_src"
  rm -rf "$tmp"
fi
found=$(sed -n 's/^#define ZSTD_VERSION_\(MAJOR\|MINOR\|RELEASE\) *\([0-9]*\).*/\2/p' "$zstd_src/lib/zstd.h" | paste -sd.)
if [ "$found" != "$zstd_version" ]; then
  echo "setup: expected zstd $zstd_version in $zstd_src, found $found" >&2
  exit 1
fi
echo "setup: ready (zstd $found in ${zstd_src#$root/})"
