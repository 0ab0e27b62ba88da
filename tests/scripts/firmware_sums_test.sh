#!/bin/sh
# A release build takes the vendor's images only with their SHA256SUMS: the check that configure
# and the build run accepts a folder whose sums match and refuses every other one.
set -u
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fresh() {
  rm -rf "$work/images" && mkdir "$work/images"
  head -c 67072 /dev/zero | tr '\0' a >"$work/images/QVB886_FW.bin"
  head -c 67072 /dev/zero | tr '\0' c >"$work/images/QVB886_FW_133_01_00_06.bin"
  (cd "$work/images" && sha256sum ./*.bin | sed 's| \./| |' >SHA256SUMS)
}
check() {  # check WHAT EXPECTED(0|1)
  if python3 "$script" --check --out "$work/out" --source "$work/images" \
    QVB886_FW=67072 QVB886_FW_133_01_00_06=67072 >/dev/null 2>"$work/err"; then got=0; else got=1; fi
  if [ "$got" != "$2" ]; then echo "FAIL: $1 (expected $([ "$2" = 0 ] && echo accepted || echo refused))"; cat "$work/err"; failed=1; fi
}
failed=0
fresh; check "images matching their sums" 0
[ ! -e "$work/out" ] || { echo "FAIL: --check wrote into --out"; failed=1; }
fresh; rm "$work/images/SHA256SUMS"; check "no SHA256SUMS" 1
fresh; printf b | dd of="$work/images/QVB886_FW.bin" bs=1 seek=100 conv=notrunc 2>/dev/null
check "an image that does not match its sum" 1
fresh; grep -v QVB886_FW_133 "$work/images/SHA256SUMS" >"$work/s" && mv "$work/s" "$work/images/SHA256SUMS"
check "an image without a sum" 1
fresh; head -c 100 /dev/zero >>"$work/images/QVB886_FW.bin"; check "an image of the wrong size" 1
exit $failed
