#!/usr/bin/env bash
# A release anyone can rebuild: scripts/release.sh, run twice at once from two folders on the
# same images and key, writes the same SHA256SUMS; the signatures verify against the test's own
# certificate and not against another; the Windows programs are stripped i386 PE files with
# ASLR and DEP; lintian has nothing to say of either package but that no bug is closed, the
# window's metainfo validates, and the command-line package pulls in no Qt.
#   release_test.sh SOURCE_DIR LINTIAN
set -u
src=$1
lintian=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/qvb-release-test-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
  echo "release test: $*" >&2
  exit 1
}

# Outside a git checkout release.sh takes its time from here.
git -C "$src" rev-parse --git-dir >/dev/null 2>&1 ||
  export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(stat -c %Y "$src/CMakeLists.txt")}

# The images: four of the carried size, and their sums as sha256sum writes them.
images=$work/images
mkdir -p "$images"
for name in QVB886_FW QVB886_FW_133_01_00_02 QVB886_FW_133_01_00_03 QVB886_FW_133_01_00_06; do
  yes "$name" | head -c 67072 >"$images/$name.bin"
done
(cd "$images" && sha256sum -- *.bin >SHA256SUMS)

certificate() { # certificate NAME: a throwaway code-signing key and certificate
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=QVB886 release test $1" \
    -addext extendedKeyUsage=codeSigning -keyout "$work/$1.key" -out "$work/$1.crt" \
    >/dev/null 2>&1 || fail "openssl could not make a certificate"
}
certificate signer
certificate other

# Both at once, one compile job each: the two machines' worth of builds in one's time.
start=$SECONDS
pids=()
for run in 1 2; do
  QVB_JOBS=1 "$src/scripts/release.sh" "$images" "$work/out$run" --sign "$work/signer.key" \
    "$work/signer.crt" >"$work/release$run.log" 2>&1 &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
for run in 1 2; do sed "s/^/[$run] /" "$work/release$run.log"; done
[ $status -eq 0 ] || fail "release.sh failed"
echo "release test: two releases in $((SECONDS - start)) s"

out=$work/out1
diff "$out/SHA256SUMS" "$work/out2/SHA256SUMS" || fail "the two releases differ"
(cd "$out" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the files"
expected="QVB886FWUpdate.exe qvb886-fwupdate-gui_1.0.0-1_amd64.deb qvb886-fwupdate.exe qvb886-fwupdate_1.0.0-1_amd64.deb"
[ "$(awk '{print $2}' "$out/SHA256SUMS" | sort | xargs)" = "$expected" ] ||
  fail "SHA256SUMS lists $(awk '{print $2}' "$out/SHA256SUMS" | xargs), expected $expected"

check_pe=$src/tests/resources/check_pe.py
python3 "$check_pe" "$out/QVB886FWUpdate.exe" --machine i386 --subsystem gui --images "$images" \
  --stripped || fail "the window program"
python3 "$check_pe" "$out/qvb886-fwupdate.exe" --machine i386 --subsystem console \
  --level asInvoker --images "$images" --stripped || fail "the console program"
for exe in QVB886FWUpdate.exe qvb886-fwupdate.exe; do
  osslsigncode verify -CAfile "$work/signer.crt" -in "$out/$exe" >"$work/verify.txt" 2>&1 ||
    { cat "$work/verify.txt"; fail "$exe: the signature does not verify"; }
  ! osslsigncode verify -CAfile "$work/other.crt" -in "$out/$exe" >/dev/null 2>&1 ||
    fail "$exe: verifies against a certificate that did not sign it"
done

cli=$out/qvb886-fwupdate_1.0.0-1_amd64.deb
gui=$out/qvb886-fwupdate-gui_1.0.0-1_amd64.deb
(cd "$work" && "$lintian" -I --pedantic --no-tag-display-limit "$cli" "$gui") >"$work/lintian.txt" 2>&1
cat "$work/lintian.txt"
! grep -E '^[EWIPX]: ' "$work/lintian.txt" | grep -v ' initial-upload-closes-no-bugs ' ||
  fail "lintian finds more than initial-upload-closes-no-bugs"
grep -q '^W: ' "$work/lintian.txt" || fail "lintian printed no result at all"

dpkg-deb -f "$cli" Depends | grep -qi qt && fail "the command-line package depends on Qt"
dpkg-deb -f "$gui" Depends | grep -qF "qvb886-fwupdate (= 1.0.0-1)" ||
  fail "the window's package does not depend on the command line's"
mkdir "$work/gui"
dpkg-deb -x "$gui" "$work/gui"
appstreamcli validate --no-net "$work"/gui/usr/share/metainfo/*.metainfo.xml ||
  fail "appstreamcli rejects the metainfo"
echo "release test: identical twice, signed, hardened and lintian-clean"
