#!/usr/bin/env bash
# The USB test rig: boots Debian's kernel in qemu with the host's root file system shared
# read-only, turns the virtual bridge into a USB mass-storage gadget on dummy_hcd inside the
# guest (Bulk-Only through FunctionFS, USB Attached SCSI through GadgetFS), and drives the
# freshly built qvb886-fwupdate through usb-storage or uas, SCSI and sg; Debian's udevd, run
# in the guest, feeds the window's hot-plug translation.
#
#   rig.sh --build BUILD_DIR [--mode suite|bench] [--only NAME,...] [--kvm] [--timeout SECS]
#   rig.sh --build MINGW_BUILD_DIR --mode wine32 [--ctest-args "ARGS"] [--cache DIR]
#   rig.sh --build BUILD_DIR --mode win-rig --windows MINGW_BUILD_DIR [--windows64 MINGW64_DIR]
#          [--only NAME,...]
#
# Mode wine32 runs the 32-bit Windows build's ctest under 32-bit Wine in the guest, for hosts
# that cannot execute 32-bit code; the build folder is shared writable with the guest.
# Mode win-rig runs the shipped 32-bit Windows programs of MINGW_BUILD_DIR, unchanged, under
# 32-bit Wine in the guest against the gadget (they find it through SetupDi and send through
# IOCTL_SCSI_PASS_THROUGH_DIRECT), and BUILD_DIR's Linux program on the same scenario; the
# Windows build folder is shared writable (it keeps the guest's win32 prefix archive).
# --windows64 adds the x86_64 siblings from MINGW64_DIR under wine64 in the same boot; their
# win64 prefix is made here on the host (seconds, where the guest would take minutes) and kept
# in MINGW64_DIR as guest-wine64-prefix.tar.gz. Whatever keeps them from running fails their cases.
# --cache names the folder of the guest's Debian packages (default BUILD_DIR/usb_rig/cache).
#
# Exit 0 when the guest ran every check and all passed; otherwise 1, with the guest's log.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
src=$(cd "$here/.." && pwd)
build="" mode=suite only="" accel=tcg timeout_s="" cache="" ctest_args="" windows="" windows64=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --mode) mode=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    --kvm) accel=kvm; shift ;;
    --timeout) timeout_s=$2; shift 2 ;;
    --cache) cache=$2; shift 2 ;;
    --ctest-args) ctest_args=$2; shift 2 ;;
    --windows) windows=$2; shift 2 ;;
    --windows64) windows64=$2; shift 2 ;;
    *) echo "usage: rig.sh --build BUILD_DIR [--mode suite|bench|wine32|win-rig] [--windows MINGW_BUILD_DIR] [--windows64 MINGW64_DIR] [--only NAMES] [--kvm]" >&2; exit 2 ;;
  esac
done
[ -n "$build" ] || { echo "rig: --build BUILD_DIR is required" >&2; exit 2; }
case "$mode" in suite | bench | wine32 | win-rig) ;; *) echo "rig: unknown mode $mode" >&2; exit 2 ;; esac
build=$(cd "$build" && pwd)
rig="$build/usb_rig"
[ -n "$cache" ] || cache="$rig/cache"
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)

fail() { echo "usb-rig FAILED: $*" >&2; exit 1; }
if [ "$mode" = win-rig ]; then
  [ -n "$windows" ] || fail "mode win-rig needs --windows MINGW_BUILD_DIR (the 32-bit Windows build)"
  [ -d "$windows" ] ||
    fail "the 32-bit Windows build folder $windows is missing: build it first (cmake --preset mingw && cmake --build --preset mingw)"
  windows=$(cd "$windows" && pwd)
fi

qemu=${QVB_QEMU:-$(command -v qemu-system-x86_64 || true)}
[ -n "$qemu" ] && [ -x "$qemu" ] ||
  fail "qemu-system-x86_64 is not installed (scripts/install-deps.sh installs qemu-system-x86)"
for tool in cpio gzip; do
  command -v $tool >/dev/null || fail "$tool is not installed (scripts/install-deps.sh)"
done
if [ "$mode" = wine32 ]; then
  needed=("$build/QVB886FWUpdate.exe")
  [ -x /usr/lib/wine/wine ] || fail "32-bit Wine is not installed (scripts/install-deps.sh installs wine32:i386)"
elif [ "$mode" = win-rig ]; then
  needed=("$build/cli/qvb886-fwupdate" "$rig/qvb-usb-gadget" "$rig/qvb-uas-gadget"
    "$windows/QVB886FWUpdate.exe" "$windows/cli/qvb886-fwupdate.exe")
  [ -x /usr/lib/wine/wine ] || fail "32-bit Wine is not installed (scripts/install-deps.sh installs wine32:i386)"
  . "$src/cmake/wine-env.sh"
  [ ! -f "$windows/cli/qvb886-fwupdate.exe" ] ||
    [ "$(qvb_pe_machine "$windows/cli/qvb886-fwupdate.exe")" = 014c ] ||
    fail "$windows is not the 32-bit Windows build (its programs are not PE i386)"
else
  needed=("$build/cli/qvb886-fwupdate" "$rig/qvb-usb-gadget" "$rig/qvb-uas-gadget" "$rig/qvb-rig-bench")
fi
for exe in "${needed[@]}"; do
  [ -f "$exe" ] || fail "$exe is not built"
done

# The x86_64 programs' trouble is not the boot's: it goes to the guest, which fails their cases
# with it, while the 32-bit ones still run.
windows64_problem=""
if [ "$mode" = win-rig ] && [ -n "$windows64" ]; then
  if [ ! -d "$windows64" ]; then
    windows64_problem="the x86_64 Windows build folder $windows64 is missing: build it first (cmake --preset mingw64 && cmake --build --preset mingw64)"
  else
    windows64=$(cd "$windows64" && pwd)
    for exe in "$windows64/cli/qvb886-fwupdate.exe" "$windows64/QVB886FWUpdate.exe" \
      "$windows64/tests/wine/qvb_wine_driver.exe"; do
      if [ ! -f "$exe" ]; then
        windows64_problem="$exe is not built (cmake --build --preset mingw64)"
      elif [ "$(qvb_pe_machine "$exe")" != 8664 ]; then
        windows64_problem="$exe is not an x86_64 program: $windows64 is not the x86_64 Windows build"
      fi
      [ -z "$windows64_problem" ] || break
    done
  fi
  archive64="$windows64/guest-wine64-prefix.tar.gz"
  if [ -z "$windows64_problem" ] && [ ! -f "$archive64" ]; then
    echo "usb-rig: making the win64 prefix for the guest on the host ($archive64)"
    if ! windows64_problem=$(
      QVB_RIG_SRC=$src
      say() { echo "usb-rig: $*" >&2; }
      . "$here/guest/wine-prefix.sh"
      qvb_wine_select "$windows64/cli/qvb886-fwupdate.exe" 2>&1 || exit 1
      work=$(mktemp -d "$windows64/.guest-wine64-prefix.XXXXXX") || exit 1
      trap 'rm -rf "$work"' EXIT
      export WINEPREFIX=$work/prefix WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
      qvb_wine_prefix --gui 2>&1 && wine_keep_prefix "$archive64" ||
        { echo "wineboot of a win64 prefix failed on the host"; "$WINESERVER" -k 2>/dev/null; exit 1; }
    ); then
      windows64_problem="no win64 prefix for the guest: $windows64_problem"
    else
      windows64_problem=""
    fi
  fi
  [ -z "$windows64_problem" ] || echo "usb-rig: the x86_64 cases will fail: $windows64_problem" >&2
fi
"$here/fetch-guest.sh" "$cache" || fail "the guest's Debian packages could not be fetched (network to the Debian mirror? apt-get update?)"
release=$(cat "$cache/kernel-release")
modules="$cache/kernel/lib/modules/$release/kernel"
busybox="$cache/busybox/bin/busybox"
[ -x "$busybox" ] || fail "busybox-static did not unpack"

# The initramfs: busybox, the drivers needed to reach the 9p root, and init.
initrd="$rig/initramfs.cpio.gz"
boot_modules="drivers/virtio/virtio_ring drivers/virtio/virtio drivers/virtio/virtio_pci_modern_dev
  drivers/virtio/virtio_pci_legacy_dev drivers/virtio/virtio_pci fs/netfs/netfs fs/fscache/fscache
  net/9p/9pnet net/9p/9pnet_virtio fs/9p/9p"
if [ ! -f "$initrd" ] || [ "$here/guest/init" -nt "$initrd" ] || [ "$cache/kernel-release" -nt "$initrd" ]; then
  tree="$rig/initramfs"
  rm -rf "$tree"
  mkdir -p "$tree/bin" "$tree/lib/modules"
  cp "$busybox" "$tree/bin/busybox"
  : > "$tree/modules.order"
  for m in $boot_modules; do
    cp "$modules/$m.ko" "$tree/lib/modules/" || fail "module $m missing from the kernel package"
    basename "$m" >> "$tree/modules.order"
  done
  install -m 755 "$here/guest/init" "$tree/init"
  (cd "$tree" && find . | cpio -o -H newc --quiet | gzip -1) > "$initrd.tmp"
  mv "$initrd.tmp" "$initrd"
fi

results="$rig/results-$mode"
rm -rf "$results"
mkdir -p "$results"
# The folder shared writable at its own path (the Windows modes); the guest's init reads it,
# like every other path, from rig.env: the kernel command line cannot carry a space.
rw_path=""
case "$mode" in wine32) rw_path=$build ;; win-rig) rw_path=$windows ;; esac
# qemu's option lists take a comma in a value as two.
qemu_path() { printf '%s' "${1//,/,,}"; }
cat > "$results/rig.env" <<ENV
QVB_RIG_SRC='$src'
QVB_RIG_BUILD='$build'
QVB_RIG_CACHE='$cache'
QVB_RIG_MODULES='$modules'
QVB_BUSYBOX='$busybox'
QVB_RIG_MODE='$mode'
QVB_RIG_ONLY='$only'
QVB_RIG_RESULTS='$results'
QVB_RIG_RW='$rw_path'
QVB_RIG_GUEST_SCRIPT='${QVB_RIG_GUEST_SCRIPT:-$(case $mode in wine32) echo wine32.sh ;; win-rig) echo winrig.sh ;; *) echo suite.sh ;; esac)}'
QVB_RIG_WINDOWS='$windows'
QVB_RIG_WINDOWS64='$windows64'
QVB_RIG_WINDOWS64_PROBLEM='${windows64_problem//\'/}'
QVB_RIG_CTEST_ARGS='$ctest_args'
QVB_RIG_WINEDEBUG='${WINEDEBUG:-}'
ENV

accel_args=(-accel tcg,thread=multi -cpu max)
memory=1024
rw_args=()
if [ "$mode" = wine32 ]; then
  # 32-bit Wine oopses the guest kernel with -cpu max; this model runs it. The win32 prefix
  # lives in the guest's memory.
  accel_args=(-accel tcg,thread=multi -cpu qemu64,+ssse3,+sse4.1,+sse4.2,+popcnt)
  memory=3072
  rw_args=(-virtfs "local,path=$(qemu_path "$build"),mount_tag=build,security_model=none,multidevs=remap")
  [ -n "$timeout_s" ] || timeout_s=2400
elif [ "$mode" = win-rig ]; then
  # As for wine32; the Windows build folder is writable for the prefix archive.
  accel_args=(-accel tcg,thread=multi -cpu qemu64,+ssse3,+sse4.1,+sse4.2,+popcnt)
  memory=3072
  rw_args=(-virtfs "local,path=$(qemu_path "$windows"),mount_tag=build,security_model=none,multidevs=remap")
  # Room for a first run under a busy host: the win32 prefix made in the guest (up to 9 min),
  # the 32-bit scenarios (up to 7 min) and the x86_64 ones (up to 3 min).
  [ -n "$timeout_s" ] || timeout_s=1500
fi
[ -n "$timeout_s" ] || timeout_s=540
# This machine's KVM cannot run a normal guest; it is there for hosts whose KVM can.
[ "$accel" = kvm ] && accel_args=(-accel kvm -cpu host)

start=$(date +%s.%N)
set +e
timeout --foreground -k 10 "$timeout_s" "$qemu" "${accel_args[@]}" -smp 2 -m "$memory" \
  -nodefaults -no-user-config -display none -no-reboot \
  -serial "file:$(qemu_path "$results/console.log")" \
  -kernel "$cache/vmlinux" -initrd "$initrd" \
  -append "console=ttyS0 panic=-1 loglevel=4 rdinit=/init" \
  -virtfs "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap" \
  -virtfs "local,path=$(qemu_path "$results"),mount_tag=results,security_model=none,multidevs=remap" \
  "${rw_args[@]}" </dev/null
qemu_rc=$?
set -e
elapsed=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')

[ -f "$results/guest.log" ] && cat "$results/guest.log"
echo "usb-rig: qemu exit $qemu_rc, ${elapsed}s on the host; console log: $results/console.log"
if [ $qemu_rc -eq 124 ] || [ $qemu_rc -eq 137 ]; then
  tail -n 40 "$results/console.log" >&2 || true
  fail "the guest did not power off within ${timeout_s}s"
fi
if [ ! -f "$results/status" ]; then
  tail -n 60 "$results/console.log" >&2 || true
  fail "the guest ended without a result (see the console log above)"
fi
status=$(cat "$results/status")
if [ "$mode" = wine32 ]; then
  [ "$status" = "0" ] || { cat "$results/ctest.log" >&2 2>/dev/null; fail "the 32-bit Windows tests failed in the guest (ctest exit $status)"; }
  echo "usb-rig: the 32-bit Windows tests passed in the guest"
  exit 0
fi
if [ "$status" != "0" ]; then
  grep -E '^(FAIL|  )' "$results/guest.log" >&2 || true
  fail "$status check(s) failed in the guest"
fi
echo "usb-rig: all checks passed"
