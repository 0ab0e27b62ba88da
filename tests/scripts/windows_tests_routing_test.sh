#!/usr/bin/env bash
# Where the Windows test sets run: the 32-bit probe, the routing of each set, the runner's choice
# of Wine loader, and sets sent where they cannot run failing instead of passing.
set -u
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# expect NAME WANTED_RC PATTERN COMMAND...: the command's exit code and a line of its output.
expect() {
  local name=$1 want_rc=$2 pattern=$3 out rc
  shift 3
  out=$("$@" 2>&1)
  rc=$?
  if [ "$rc" -ne "$want_rc" ] || ! grep -qE -- "$pattern" <<<"$out"; then
    echo "FAIL $name: exit $rc (wanted $want_rc), output:"
    sed 's/^/    /' <<<"$out"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}
# refute NAME PATTERN COMMAND...: no line of the output matches.
refute() {
  local name=$1 pattern=$2 out
  shift 2
  out=$("$@" 2>&1)
  if grep -qE -- "$pattern" <<<"$out"; then
    echo "FAIL $name: output has /$pattern/:"
    sed 's/^/    /' <<<"$out"
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

probe=$src/scripts/host-runs-i386.sh
run=$src/scripts/run-windows-tests.sh

# The probe: its real answer agrees with its exit code; the override works both ways.
answer=$("$probe")
rc=$?
if { [ $rc -eq 0 ] && [ "$answer" = yes ]; } || { [ $rc -eq 1 ] && [[ $answer == no:* ]]; }; then
  echo "ok   probe answers '$answer' with exit $rc"
else
  echo "FAIL probe answered '$answer' with exit $rc"
  failures=$((failures + 1))
fi
expect "probe: forced yes" 0 '^yes' env QVB_HOST_RUNS_I386=yes "$probe"
expect "probe: forced no" 1 '^no: ' env QVB_HOST_RUNS_I386=no "$probe"
expect "probe: a bad override is refused" 2 'must be yes or no' env QVB_HOST_RUNS_I386=maybe "$probe"

# Routing: the 32-bit set follows the probe, the x86_64 set always runs under wine64.
expect "mingw on a host that executes 32-bit code" 0 'mingw would run at native-wine32$' \
  env QVB_HOST_RUNS_I386=yes "$run" mingw --dry-run
expect "mingw on a host that cannot goes to the guest" 0 'mingw would run at guest-wine32$' \
  env QVB_HOST_RUNS_I386=no "$run" mingw --dry-run
expect "mingw64 runs natively" 0 'mingw64 would run at native-wine64$' \
  env QVB_HOST_RUNS_I386=no "$run" mingw64 --dry-run

# Sent where they cannot run: each fails, with the reason, and nothing says passed.
mkdir -p "$work/no-wine"
expect "mingw64 without wine64" 1 'FAILED, did not run: wine64 .* is not installed' \
  env QVB_WINE_DIR="$work/no-wine" "$run" mingw64
expect "mingw in the guest without qemu" 1 'FAILED, did not run: qemu-system-x86_64 is not installed' \
  env QVB_QEMU="$work/no-qemu" "$run" mingw --place guest-wine32
expect "mingw natively on a host that cannot execute 32-bit code" 1 \
  'FAILED, did not run: this host cannot execute 32-bit code' \
  env QVB_HOST_RUNS_I386=no "$run" mingw --place native-wine32
expect "mingw64 sent to the guest" 1 'do not run at guest-wine32' "$run" mingw64 --place guest-wine32
expect "all, with neither place available" 1 'mingw at guest-wine32: FAILED' \
  env QVB_HOST_RUNS_I386=no QVB_WINE_DIR="$work/no-wine" QVB_QEMU="$work/no-qemu" "$run" all
refute "all, with neither place available, reports nothing as passed" 'passed' \
  env QVB_HOST_RUNS_I386=no QVB_WINE_DIR="$work/no-wine" QVB_QEMU="$work/no-qemu" "$run" all
mkdir -p "$work/build"
: >"$work/build/QVB886FWUpdate.exe"
expect "the rig's wine32 mode without qemu" 1 'usb-rig FAILED: qemu-system-x86_64 is not installed' \
  env QVB_QEMU="$work/no-qemu" "$src/usb_rig/rig.sh" --build "$work/build" --mode wine32

# The runner picks Wine's loader from the program's PE header, never from Debian's wrapper.
pe() {  # pe FILE MACHINE_BYTES: the smallest header the runner reads
  { printf 'MZ'; head -c 58 /dev/zero; printf '\x40\x00\x00\x00'; printf 'PE\0\0'; printf '%b' "$2"; } >"$1"
}
pe "$work/i386.exe" '\x4c\x01'
pe "$work/amd64.exe" '\x64\x86'
pe "$work/arm.exe" '\xc4\x01'
printf 'not a program' >"$work/text.exe"
select_loader() {  # prints the variables qvb_wine_select sets, or fails
  (. "$src/cmake/wine-env.sh" && qvb_wine_select "$1" && echo "$WINEARCH $(basename "$WINELOADER") $(basename "$WINESERVER")")
}
expect "an x86_64 program gets wine64" 0 '^win64 wine64 wineserver64$' select_loader "$work/amd64.exe"
expect "an i686 program gets 32-bit Wine" 0 '^win32 wine wineserver(32)?$' \
  env QVB_HOST_RUNS_I386=yes bash -c "$(declare -f select_loader); src='$src'; select_loader '$work/i386.exe'"
expect "an i686 program on a host that cannot run it" 1 'cannot execute 32-bit code.*guest' \
  env QVB_HOST_RUNS_I386=no bash -c "$(declare -f select_loader); src='$src'; select_loader '$work/i386.exe'"
expect "an ARM program" 1 'PE machine 01c4' select_loader "$work/arm.exe"
expect "not a program" 1 'is not a Windows executable' select_loader "$work/text.exe"
expect "the test runner refuses an i686 program it cannot run" 1 'cannot execute 32-bit code' \
  env QVB_HOST_RUNS_I386=no "$src/cmake/wine-run.sh" "$work/i386.exe"

echo "$failures failure(s)"
[ $failures -eq 0 ]
