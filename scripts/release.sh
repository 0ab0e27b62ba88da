#!/usr/bin/env bash
# Makes a release from the last commit and the vendor's firmware images: the shipped 32-bit
# Windows window and console program (stripped; signed with --sign) and the two Debian
# packages, with SHA256SUMS over them. Anyone with the same commit and images gets the same
# bytes: the time comes from the commit (SOURCE_DATE_EPOCH), no path of the build machine is
# recorded, no link or packing time is written.
#   scripts/release.sh IMAGES_DIR OUT_DIR [--sign KEY CERT]
# IMAGES_DIR: the four <NAME>.bin images and their SHA256SUMS. OUT_DIR: made; must be empty.
# KEY, CERT: the Authenticode key and certificate (PEM or DER) for osslsigncode.
# QVB_JOBS (default 2): parallel compile jobs. QVB_RELEASE_KEEP=1 keeps the build folder.
set -euo pipefail

usage() {
  echo "usage: $0 IMAGES_DIR OUT_DIR [--sign KEY CERT]" >&2
  exit 2
}
[ $# -eq 2 ] || [ $# -eq 5 ] || usage
images=$(realpath -- "$1")
out=$2
key="" cert=""
if [ $# -eq 5 ]; then
  [ "$3" = --sign ] || usage
  key=$(realpath -- "$4")
  cert=$(realpath -- "$5")
  [ -r "$key" ] && [ -r "$cert" ] || { echo "release: cannot read $4 or $5" >&2; exit 2; }
  command -v osslsigncode >/dev/null || { echo "release: --sign needs osslsigncode" >&2; exit 2; }
fi
[ -d "$images" ] || { echo "release: no images folder $1" >&2; exit 2; }
mkdir -p -- "$out"
out=$(realpath -- "$out")
[ -z "$(ls -A "$out")" ] || { echo "release: $out is not empty" >&2; exit 2; }

root=$(realpath "$(dirname "$0")/..")
jobs=${QVB_JOBS:-2}
export LC_ALL=C TZ=UTC
umask 022

work=$(mktemp -d "${TMPDIR:-/tmp}/qvb-release-XXXXXX")
if [ "${QVB_RELEASE_KEEP:-}" = 1 ]; then
  echo "release: build folder $work kept"
else
  trap 'rm -rf "$work"' EXIT
fi

# The sources: the last commit, exactly, whatever the work tree holds besides.
src=$work/src
mkdir -p "$src"
if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  git -C "$root" archive --format=tar HEAD | tar -x -C "$src"
  : "${SOURCE_DATE_EPOCH:=$(git -C "$root" log -1 --format=%ct)}"
  commit=$(git -C "$root" rev-parse HEAD)
  if [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
    echo "release: note: uncommitted changes are not in the release; it is made from $commit"
  fi
else
  [ -n "${SOURCE_DATE_EPOCH:-}" ] || { echo "release: not a git checkout: set SOURCE_DATE_EPOCH" >&2; exit 2; }
  tar -C "$root" --exclude=./build -cf - . | tar -x -C "$src"
  commit="(no git)"
fi
export SOURCE_DATE_EPOCH
echo "release: commit $commit, SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH ($(date -u -d "@$SOURCE_DATE_EPOCH" +%F))"

# Every path under the build folder is written as if it were /build: the debug information
# (and so the ELF build IDs) and __FILE__ do not name this machine's folders.
prefix_map="-ffile-prefix-map=$work=/build"
configure() { # configure BUILD_DIR ARGS...
  local dir=$1
  shift
  cmake -S "$src" -B "$dir" -G Ninja -DQVB_FIRMWARE_DIR="$images" -DQVB_BUILD_TESTS=OFF \
    -DQVB_WERROR=ON "$@" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log" >&2; return 1; }
}

# Windows: static, stripped (-s), no link time in the PE header (TimeDateStamp 0, and so a
# CheckSum that does not change). mingw's ld keeps ASLR and DEP on by default; the PE check
# of the tests holds it to that.
start=$SECONDS
echo "release: building the Windows programs"
CFLAGS="$prefix_map" CXXFLAGS="$prefix_map" LDFLAGS="-s -Wl,--no-insert-timestamp" \
  configure "$work/mingw" --toolchain "$src/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release
cmake --build "$work/mingw" -j "$jobs" --target QVB886FWUpdate qvb886-fwupdate >"$work/mingw.build.log" 2>&1 ||
  { tail -50 "$work/mingw.build.log" >&2; exit 1; }
for exe in "$work/mingw/QVB886FWUpdate.exe" "$work/mingw/cli/qvb886-fwupdate.exe"; do
  name=$(basename "$exe")
  if [ -n "$key" ]; then
    # The signing time is the commit's too, so a signed release is reproducible with its key.
    osslsigncode sign -key "$key" -certs "$cert" -h sha256 -n "QVB886 FW Updater" \
      -time "$SOURCE_DATE_EPOCH" -in "$exe" -out "$out/$name" >"$work/sign.log" 2>&1 ||
      { cat "$work/sign.log" >&2; exit 1; }
  else
    cp "$exe" "$out/$name"
  fi
done

echo "release: the Windows programs took $((SECONDS - start)) s"

# Linux: Debian's flags with all its hardening (stack protector, FORTIFY, full RELRO with
# BIND_NOW, PIE) and its -O2. No -g: the packages ship stripped and no debug package is made.
start=$SECONDS
echo "release: building the Linux packages"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CFLAGS_MAINT_STRIP=-g DEB_CXXFLAGS_MAINT_STRIP=-g
flags() { (cd "$work" && dpkg-buildflags --get "$1"); }
cppflags=$(flags CPPFLAGS)
CFLAGS="$(flags CFLAGS) $cppflags $prefix_map" CXXFLAGS="$(flags CXXFLAGS) $cppflags $prefix_map" \
  LDFLAGS="$(flags LDFLAGS)" configure "$work/linux" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG
cmake --build "$work/linux" -j "$jobs" >"$work/linux.build.log" 2>&1 ||
  { tail -50 "$work/linux.build.log" >&2; exit 1; }
(cd "$work/linux" && cpack -G DEB -B "$work/packages" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log" >&2; exit 1; }
# Packed again by dpkg-deb, which sorts the members, owns them by root and clamps every time
# in the ar and tar headers to SOURCE_DATE_EPOCH.
for deb in "$work"/packages/*.deb; do
  tree=$work/deb-tree
  rm -rf "$tree"
  dpkg-deb -R "$deb" "$tree"
  find "$tree" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  dpkg-deb --root-owner-group -Zxz -b "$tree" "$out/$(basename "$deb")" >/dev/null
done

echo "release: the Linux packages took $((SECONDS - start)) s"

(cd "$out" && sha256sum -- *.exe *.deb >SHA256SUMS)
echo "release: $out"
sed 's/^/  /' "$out/SHA256SUMS"
if [ -z "$key" ]; then
  echo "release: the Windows programs are NOT signed (give --sign KEY CERT to sign them)"
else
  echo "release: the Windows programs are signed with $(openssl x509 -in "$cert" -noout -subject 2>/dev/null ||
    echo "$cert")"
fi
