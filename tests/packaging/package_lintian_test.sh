#!/usr/bin/env bash
# Builds the .deb into a folder of its own and runs lintian on it: no error, and no program
# without its manual page.
#   package_lintian_test.sh CPACK BUILD_DIR LINTIAN
set -u
cpack=$1
build=$2
lintian=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/qvb-package-XXXXXX")
trap 'rm -rf "$work"' EXIT

(cd "$build" && "$cpack" -G DEB -B "$work" >"$work/cpack.log" 2>&1) || {
  cat "$work/cpack.log" >&2
  echo "cpack failed" >&2
  exit 1
}
deb=$(ls "$work"/*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { echo "cpack made no .deb" >&2; exit 1; }
"$lintian" --no-tag-display-limit "$deb" >"$work/lintian.txt" 2>&1
cat "$work/lintian.txt"
if grep -qE '^E: ' "$work/lintian.txt"; then
  echo "lintian reports errors" >&2
  exit 1
fi
if grep -qE 'no-manual-page|binary-without-manpage' "$work/lintian.txt"; then
  echo "a program of the package has no manual page" >&2
  exit 1
fi
for page in qvb886-fwupdate qvb886-fwupdate-gui; do
  dpkg-deb -c "$deb" | grep -q "usr/share/man/man1/$page.1.gz" || {
    echo "the package lacks the manual page of $page" >&2
    exit 1
  }
done
echo "package: lintian finds no error and no program without a manual page"
