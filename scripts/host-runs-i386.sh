#!/usr/bin/env bash
# Tells whether this host executes 32-bit x86 programs: some kernels refuse them outright
# ("Exec format error"), and then 32-bit Wine cannot run here at all.
#
#   host-runs-i386.sh        prints "yes" or "no: REASON"; exit 0 for yes, 1 for no
#
# The answer comes from running a 96-byte static i386 program that only calls exit(42), so it
# needs no 32-bit libraries. QVB_HOST_RUNS_I386=yes|no overrides the answer (tests of the
# scripts that route the Windows tests use it).
set -u

case "${QVB_HOST_RUNS_I386:-}" in
  yes) echo "yes (QVB_HOST_RUNS_I386)"; exit 0 ;;
  no) echo "no: QVB_HOST_RUNS_I386=no"; exit 1 ;;
  "") ;;
  *) echo "host-runs-i386: QVB_HOST_RUNS_I386 must be yes or no" >&2; exit 2 ;;
esac

probe=$(mktemp "${TMPDIR:-/tmp}/qvb-i386-probe.XXXXXX") || { echo "no: cannot write a probe file"; exit 1; }
trap 'rm -f "$probe"' EXIT
# ELF32 header, one PT_LOAD segment at 0x08048000, then: mov ebx,42; mov eax,1; int 0x80.
printf '%b' \
  '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
  '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
  '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
  '\x00\x00\x00\x00' \
  '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
  '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
  '\xbb\x2a\x00\x00\x00\xb8\x01\x00\x00\x00\xcd\x80' >"$probe"
chmod +x "$probe"
out=$("$probe" 2>&1)
rc=$?
if [ $rc -eq 42 ]; then
  echo "yes"
  exit 0
fi
reason=${out##*: }
echo "no: the kernel does not run a static i386 program (${reason:-exit $rc})"
exit 1
