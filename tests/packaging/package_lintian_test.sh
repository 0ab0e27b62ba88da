#!/usr/bin/env bash
# Builds the .deb packages into a folder of their own and runs lintian on them: no error, and no
# program without its manual page. A test build (KIND test) must first be refused, with the way
# to a release build, and then, packaged on purpose, carry the mark in its names and
# descriptions.
#   package_lintian_test.sh CPACK BUILD_DIR LINTIAN test|release
set -u
cpack=$1
build=$2
lintian=$3
kind=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/qvb-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
  echo "$*" >&2
  exit 1
}

suffix=""
options=()
if [ "$kind" = test ]; then
  suffix=-test-build
  if (cd "$build" && "$cpack" -G DEB -B "$work/refused" >"$work/refused.log" 2>&1); then
    fail "cpack packaged a test build without being asked to"
  fi
  for words in "carries generated test images" "QVB_FIRMWARE_DIR" "QVB_PACKAGE_TEST_BUILD=ON"; do
    grep -qF "$words" "$work/refused.log" || { cat "$work/refused.log" >&2; fail "cpack's refusal does not say '$words'"; }
  done
  ! ls "$work"/refused/*.deb >/dev/null 2>&1 || fail "cpack refused but left a package"
  options=(-D QVB_PACKAGE_TEST_BUILD=ON)
fi

(cd "$build" && "$cpack" -G DEB "${options[@]}" -B "$work" >"$work/cpack.log" 2>&1) || {
  cat "$work/cpack.log" >&2
  fail "cpack failed"
}
cli=$(ls "$work"/qvb886-fwupdate"$suffix"_*.deb 2>/dev/null)
gui=$(ls "$work"/qvb886-fwupdate-gui"$suffix"_*.deb 2>/dev/null)
[ -n "$cli" ] && [ -n "$gui" ] || fail "cpack made $(ls "$work"/*.deb 2>/dev/null | xargs -n1 basename | xargs), expected the two packages qvb886-fwupdate$suffix and qvb886-fwupdate-gui$suffix"
if [ "$kind" = test ]; then
  for deb in "$cli" "$gui"; do
    dpkg-deb -f "$deb" Description | grep -q "TEST BUILD: carries generated test images" ||
      fail "$(basename "$deb"): the description does not say it is a test build"
  done
fi

"$lintian" --no-tag-display-limit "$cli" "$gui" >"$work/lintian.txt" 2>&1
cat "$work/lintian.txt"
! grep -qE '^E: ' "$work/lintian.txt" || fail "lintian reports errors"
! grep -qE 'no-manual-page|binary-without-manpage' "$work/lintian.txt" ||
  fail "a program of the packages has no manual page"
for pair in "$cli:qvb886-fwupdate" "$gui:qvb886-fwupdate-gui"; do
  deb=${pair%%:*}
  page=${pair##*:}
  dpkg-deb -c "$deb" >"$work/contents.txt"
  grep -q "usr/share/man/man1/$page.1.gz" "$work/contents.txt" ||
    fail "$(basename "$deb") lacks the manual page of $page"
done
echo "packages: lintian finds no error and no program without a manual page"
