#!/bin/bash
# Sourced by the rig's guest scripts: the results, the checks' bookkeeping, the USB, SCSI and
# gadget drivers, and the two gadgets (Bulk-Only through FunctionFS, UAS through GadgetFS), each
# serving one scenario and leaving its command log and flash in the results.
. "$QVB_RIG_RESULTS/rig.env"
R=$QVB_RIG_RESULTS
mkdir -p /run/rig  # scratch: /tmp may be the host's, read-only
LOG=$R/guest.log
BB=$QVB_BUSYBOX
GADGET_EXE=$QVB_RIG_BUILD/usb_rig/qvb-usb-gadget
UAS_EXE=$QVB_RIG_BUILD/usb_rig/qvb-uas-gadget
GFS=/dev/gadget
SCENARIOS=$QVB_RIG_SRC/usb_rig/scenarios
IMAGE=$QVB_RIG_BUILD/resources/firmware/QVB886_FW_133_01_00_06.bin
G=/sys/kernel/config/usb_gadget/qvb
FFS=/run/ffs-bridge
failures=0
checks=0
t0=$(date +%s.%N)

say() { echo "$*" | tee -a "$LOG"; }
elapsed() { awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%6.2f", b - a }'; }
pass() { checks=$((checks + 1)); say "PASS [$(elapsed)s] $*"; }
fail() { checks=$((checks + 1)); failures=$((failures + 1)); say "FAIL [$(elapsed)s] $*"; }
# check NAME COMMAND...: the command's success is the check's.
check() {
  local name=$1
  shift
  if "$@" >>"$R/checks.out" 2>&1; then pass "$name"; else fail "$name"; fi
}
finish() {
  say "guest: $checks checks, $failures failed, $(elapsed)s of guest time"
  echo "$failures" >"$R/status"
  sync
  exit 0
}

# Waits up to $2 seconds (in 50 ms steps) for the test `$1` to hold.
wait_for() {
  local test=$1 steps=$(($2 * 20))
  while [ $steps -gt 0 ]; do
    eval "$test" && return 0
    sleep 0.05
    steps=$((steps - 1))
  done
  return 1
}
sg_present() { ls /sys/class/scsi_generic/ 2>/dev/null | grep -q '^sg' && ls /dev/sg[0-9]* >/dev/null 2>&1; }
sg_absent() { ! ls /sys/class/scsi_generic/ 2>/dev/null | grep -q '^sg'; }
sg_node() { ls -d /dev/sg[0-9]* 2>/dev/null | head -1; }

load_modules() {
  local m
  for m in usb/common/usb-common usb/core/usbcore usb/gadget/udc/udc-core usb/gadget/udc/dummy_hcd \
    ../fs/configfs/configfs usb/gadget/libcomposite usb/gadget/function/usb_f_fs \
    scsi/scsi_common scsi/scsi_mod "usb/storage/usb-storage delay_use=0" \
    ../crypto/crct10dif_common ../crypto/crct10dif_generic ../lib/crc-t10dif ../lib/crc64 \
    ../crypto/crc64_rocksoft_generic ../lib/crc64-rocksoft ../block/t10-pi scsi/sd_mod scsi/sg \
    usb/storage/uas usb/gadget/legacy/gadgetfs; do
    set -- $m
    local file="$QVB_RIG_MODULES/drivers/$1.ko"
    shift
    $BB insmod "$file" "$@" || { fail "insmod $file"; return 1; }
  done
}

make_gadget() {
  mountpoint -q /sys/kernel/config || mount -t configfs none /sys/kernel/config || return 1
  mkdir -p $G/strings/0x409 $G/configs/c.1/strings/0x409 $G/functions/ffs.bridge || return 1
  echo 0x7e21 >$G/idVendor
  echo 0x0886 >$G/idProduct
  echo 0x0200 >$G/bcdUSB
  echo Quorvel >$G/strings/0x409/manufacturer
  echo "QVB886 virtual bridge" >$G/strings/0x409/product
  echo 0001 >$G/strings/0x409/serialnumber
  echo "Bulk-Only" >$G/configs/c.1/strings/0x409/configuration
  ln -s $G/functions/ffs.bridge $G/configs/c.1/ || return 1
  mkdir -p $FFS
  mount -t functionfs bridge $FFS
}

bind_udc() { echo dummy_udc.0 >$G/UDC; }
unbind_udc() { [ -z "$(cat $G/UDC 2>/dev/null)" ] || echo "" >$G/UDC; }

# start_gadget NAME SCENARIO: serves the scenario, binds, waits for the sg node.
GADGET_PID=""
start_gadget() {
  local name=$1 scenario=$2
  rm -f /run/rig/gadget.ready
  "$GADGET_EXE" --ffs $FFS --scenario "$scenario" --ready /run/rig/gadget.ready --udc $G/UDC \
    --flash-out "$R/$name.flash" --log "$R/$name.cmds" 2>>"$R/$name.gadget.err" &
  GADGET_PID=$!
  wait_for "[ -f /run/rig/gadget.ready ]" 5 || { fail "$name: the gadget did not write its descriptors"; return 1; }
  bind_udc || { fail "$name: cannot bind the gadget to dummy_udc.0"; return 1; }
  wait_for sg_present 15 || { fail "$name: no /dev/sgN appeared"; return 1; }
  SG=$(sg_node)
}
stop_gadget() {
  unbind_udc
  wait_for sg_absent 10
  if [ -n "$GADGET_PID" ]; then
    kill -TERM $GADGET_PID 2>/dev/null
    wait $GADGET_PID 2>/dev/null
    GADGET_PID=""
  fi
}

# json_is FILE EXPRESSION: a Python expression over the document `d` that must be true.
json_is() {
  python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); sys.exit(0 if eval(sys.argv[2]) else 1)' "$1" "$2"
}
# flash_matches FLASH: the image within the compare window (0-511 and 1024-0x103FF).
flash_matches() {
  cmp -n 512 "$IMAGE" "$1" && cmp -i 1024 -n $((0x10400 - 1024)) "$IMAGE" "$1"
}
# count_lines FILE PATTERN
count_lines() { grep -c -E "$2" "$1" 2>/dev/null || true; }

# The same model as a USB Attached SCSI device: GadgetFS instead of the configfs gadget (both
# want the one dummy UDC), the uas driver instead of usb-storage.
UAS_PID=""
start_uas_gadget() {
  local name=$1 scenario=$2
  shift 2
  unbind_udc
  wait_for sg_absent 10
  mkdir -p $GFS
  mountpoint -q $GFS || mount -t gadgetfs gadgetfs $GFS || { fail "$name: cannot mount gadgetfs"; return 1; }
  local udc
  udc=$(ls $GFS | grep -v '^ep' | head -1)
  [ -n "$udc" ] || { fail "$name: gadgetfs shows no controller"; return 1; }
  rm -f /run/rig/uas.ready
  "$UAS_EXE" --gadgetfs $GFS --udc "$udc" --scenario "$scenario" --ready /run/rig/uas.ready \
    --flash-out "$R/$name.flash" --log "$R/$name.cmds" "$@" 2>>"$R/$name.gadget.err" &
  UAS_PID=$!
  wait_for "[ -f /run/rig/uas.ready ]" 5 || { fail "$name: the UAS gadget did not bind"; return 1; }
  wait_for sg_present 20 || { fail "$name: no /dev/sgN appeared through uas"; return 1; }
  SG=$(sg_node)
}
stop_uas_gadget() {
  if [ -n "$UAS_PID" ]; then
    kill -TERM $UAS_PID 2>/dev/null
    wait $UAS_PID 2>/dev/null
    UAS_PID=""
  fi
  wait_for sg_absent 10
  mountpoint -q $GFS && umount $GFS
}
uas_bound() { ls /sys/bus/usb/drivers/uas/ 2>/dev/null | grep -q ':1\.0$'; }
