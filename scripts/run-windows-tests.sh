#!/usr/bin/env bash
# Runs the Windows builds' tests where this host can run them, and says where they ran.
#
#   run-windows-tests.sh SET [--place PLACE] [--dry-run]
#   run-windows-tests.sh all [--dry-run]
#
# SET is a preset: mingw (the shipped 32-bit program) or mingw64 (its x86_64 test sibling).
# PLACE: auto (default), native-wine32, guest-wine32 (the USB rig's qemu guest), native-wine64.
#   mingw    auto: native-wine32 when this host executes 32-bit code (scripts/host-runs-i386.sh),
#            otherwise guest-wine32
#   mingw64  native-wine64
# Each set ends with one line "windows-tests: SET ... PLACE ... SECONDS ... passed|FAILED";
# a set that cannot run where it is sent fails with the reason, never passes. `all` runs both
# sets and fails when either does. --dry-run only says where each set would run.
#
# QVB_WIN32_GUEST_CTEST_ARGS: the ctest selection in the guest. Default: the window tests and the
#   device, virtual bridge, firmware and app test programs; the command line, fault matrix and demo tests then run
#   as 32-bit programs only on hosts that execute 32-bit code (and as x86_64 ones everywhere).
#   Set it empty to run every test there.
# QVB_WINE_DIR, QVB_QEMU, QVB_HOST_RUNS_I386: where Wine and qemu are, and the probe's answer
# (for tests of this script).
set -uo pipefail
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
wine_dir=${QVB_WINE_DIR:-/usr/lib/wine}
guest_subset='-R ^(test_device|test_virtual_bridge|test_firmware|test_app|wine_.*)$'
jobs=${QVB_JOBS:-2}

usage() {
  echo "usage: run-windows-tests.sh mingw|mingw64|all [--place auto|native-wine32|guest-wine32|native-wine64] [--dry-run]" >&2
  exit 2
}

# place_for SET PLACE: prints the place a set runs at.
place_for() {
  local set=$1 place=$2
  if [ "$place" != auto ]; then
    echo "$place"
  elif [ "$set" = mingw64 ]; then
    echo native-wine64
  elif "$src/scripts/host-runs-i386.sh" >/dev/null; then
    echo native-wine32
  else
    echo guest-wine32
  fi
}

# cannot_run SET PLACE: prints why the set cannot run there, or nothing when it can.
cannot_run() {
  local set=$1 place=$2 probe
  case "$set:$place" in
    mingw:native-wine32)
      probe=$("$src/scripts/host-runs-i386.sh") || { echo "this host cannot execute 32-bit code ($probe)"; return; }
      [ -x "$wine_dir/wine" ] || echo "32-bit Wine ($wine_dir/wine) is not installed" ;;
    mingw:guest-wine32)
      local qemu=${QVB_QEMU:-$(command -v qemu-system-x86_64)}
      [ -n "$qemu" ] && [ -x "$qemu" ] || { echo "qemu-system-x86_64 is not installed"; return; }
      [ -x "$wine_dir/wine" ] || echo "32-bit Wine ($wine_dir/wine), which the guest runs, is not installed" ;;
    mingw64:native-wine64)
      [ -x "$wine_dir/wine64" ] || echo "wine64 ($wine_dir/wine64) is not installed" ;;
    *) echo "the $set tests do not run at $place" ;;
  esac
}

# report LINE: one set's outcome, also kept for the summary of `all`.
summary=""
report() {
  echo "$1"
  summary+="$1"$'\n'
}

run_set() {
  local set=$1 place=$2 dry=$3 why rc start seconds
  place=$(place_for "$set" "$place")
  why=$(cannot_run "$set" "$place")
  if [ "$dry" = yes ]; then
    report "windows-tests: $set would run at $place${why:+, but cannot: $why}"
    [ -z "$why" ]
    return
  fi
  if [ -n "$why" ]; then
    report "windows-tests: $set at $place: FAILED, did not run: $why"
    return 1
  fi
  start=$(date +%s)
  case "$place" in
    guest-wine32)
      # What only reads the built files runs here; everything that runs Windows code, there.
      local cache="$src/build/linux/usb_rig/cache"
      [ -d "$cache" ] || cache="$src/build/$set/usb_rig/cache"
      (cd "$src" && ctest --preset "$set" -L file-checks) &&
        "$src/usb_rig/rig.sh" --build "$src/build/$set" --mode wine32 --cache "$cache" \
          --ctest-args "-LE file-checks ${QVB_WIN32_GUEST_CTEST_ARGS-$guest_subset}"
      rc=$? ;;
    *)
      (cd "$src" && ctest --preset "$set" -j "$jobs")
      rc=$? ;;
  esac
  seconds=$(($(date +%s) - start))
  if [ $rc -eq 0 ]; then
    report "windows-tests: $set at $place: passed in ${seconds}s"
  else
    report "windows-tests: $set at $place: FAILED (exit $rc) after ${seconds}s"
  fi
  return $rc
}

[ $# -ge 1 ] || usage
what=$1
shift
place=auto dry=no
while [ $# -gt 0 ]; do
  case "$1" in
    --place) place=${2:-}; shift 2 || usage ;;
    --dry-run) dry=yes; shift ;;
    *) usage ;;
  esac
done
case "$place" in auto | native-wine32 | guest-wine32 | native-wine64) ;; *) usage ;; esac

case "$what" in
  mingw | mingw64) run_set "$what" "$place" "$dry" ;;
  all)
    [ "$place" = auto ] || usage
    failed=0
    for set in mingw64 mingw; do
      run_set "$set" auto "$dry" || failed=1
    done
    echo "=== where the Windows tests ran ==="
    printf '%s' "$summary"
    exit $failed ;;
  *) usage ;;
esac
