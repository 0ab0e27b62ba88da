#!/bin/bash
# Runs inside the rig's guest (root, the host's files read-only, the 32-bit Windows build folder
# writable at its own path): the shipped Windows programs, unchanged, under 32-bit Wine against
# the gadget. Wine's registry names the gadget's disk as Windows names a usbstor disk (and a uas
# one, "scsi"), and a dosdevices link of that name leads to the gadget's sg node: the programs
# find it through their own SetupDi walk and talk to it with IOCTL_SCSI_PASS_THROUGH_DIRECT,
# which Wine's ntdll carries to SG_IO. The Linux build runs the same scenario on a fresh gadget
# for comparison. Results as in suite.sh: guest.log (PASS/FAIL lines), status, per scenario the
# program's output, the gadget's command log and its flash.
set -u
. "$QVB_RIG_RESULTS/rig.env"
. "$QVB_RIG_SRC/usb_rig/guest/common.sh"
. "$QVB_RIG_SRC/usb_rig/guest/wine-prefix.sh"
WIN=$QVB_RIG_WINDOWS
WIN_CLI=$WIN/cli/qvb886-fwupdate.exe
WIN_GUI=$WIN/QVB886FWUpdate.exe
WIN_DRIVER=$WIN/tests/wine/qvb_wine_driver.exe
LINUX_CLI=$QVB_RIG_BUILD/cli/qvb886-fwupdate
# The x86_64 siblings (rig.sh --windows64), under wine64 in their own prefix.
WIN64=${QVB_RIG_WINDOWS64:-}

# The disk interface class and the names Windows gives a disk behind usbstor and behind uas.
DISK_CLASS='{53f56307-b6bf-11d0-94f2-00a0c91efb8b}'
USBSTOR_ID='USBSTOR\Disk&Ven_Quorvel&Prod_QVB886_NVMe&Rev_1.00\0001&0'
UAS_ID='SCSI\Disk&Ven_Quorvel&Prod_QVB886_NVMe\7&2f1a5c3e&0&000000'
# The interface path: the instance id with # for \, lower case, under \\?\ with the class.
interface_name() { echo "$1#$DISK_CLASS" | tr '\\' '#' | tr '[:upper:]' '[:lower:]'; }
USBSTOR_NAME=$(interface_name "$USBSTOR_ID")
UAS_NAME=$(interface_name "$UAS_ID")

# One .reg file with both interfaces; the enumeration keeps only the one whose name opens.
seed_registry() {
  local reg=/run/rig/disks.reg id classes='HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\DeviceClasses'
  {
    printf '%s\r\n' 'Windows Registry Editor Version 5.00' ''
    for id in "$USBSTOR_ID" "$UAS_ID"; do
      local key="$classes\\$DISK_CLASS\\##?#$(echo "$id" | tr '\\' '#')#$DISK_CLASS"
      local path="\\\\?\\$(interface_name "$id")"
      printf '%s\r\n' "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\$id]" \
        '"ClassGUID"="{4d36e967-e325-11ce-bfc1-08002be10318}"' '"Class"="DiskDrive"' '' \
        "[$key]" "\"DeviceInstance\"=\"${id//\\/\\\\}\"" '' \
        "[$key\\#]" "\"SymbolicLink\"=\"${path//\\/\\\\}\"" '' \
        "[$key\\#\\Control]" '"Linked"=dword:00000001' ''
    done
  } >"$reg"
  "$WINELOADER" regedit /S "$(echo "Z:$reg" | tr / '\\')" >"$R/regedit.out" 2>&1
}

# link_disk NAME NODE: the dosdevices entry through which Wine opens \\?\NAME; the other is removed.
link_disk() {
  rm -f "$WINEPREFIX/dosdevices/$USBSTOR_NAME" "$WINEPREFIX/dosdevices/$UAS_NAME"
  ln -s "$2" "$WINEPREFIX/dosdevices/$1"
}

# win_cli OUT ARGS...: the shipped console program under Wine (WIN_CLI: the 32-bit one until
# use_wine64 switches); its output without the CRs.
win_cli() {
  local out=$1
  shift
  timeout 300 "$WINELOADER" "$WIN_CLI" "$@" >"$out.raw" 2>"$out.err"
  local rc=$?
  tr -d '\r' <"$out.raw" >"$out"
  rm -f "$out.raw"
  return $rc
}
linux_cli() {
  local out=$1
  shift
  timeout 120 "$LINUX_CLI" "$@" >"$out" 2>"$out.err"
}
seconds_since() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }'; }

# The commands the programs sent: the kernel's own (attach, capacity, medium) left out.
program_commands() {
  grep -v -E '^(test_unit_ready|mode_sense6|mode_sense10|read_capacity10|read_capacity16|read10|write10|report_luns|prevent_allow|start_stop|synchronize_cache|ata_pass_through|inquiry_vpd) |^#' "$1"
}
# The update's own sequence: information block, descriptor, the 65 pieces written, descriptor,
# the 65 pieces read back, with flash-status polls between them as the bridge asks. Through uas
# the gadget sees no data-in length (the command unit carries none), so the reply's size counts.
update_sequence_ok() {
  program_commands "$1" | awk '
    /^info in [0-9]+ good 16$/ { if (state == 0) state = 1; next }
    state == 1 && /^read_buffer in 4 good/ { state = 2; next }
    state == 2 && /^write_buffer out 1024 good/ { writes++; next }
    state == 2 && writes == 65 && /^read_buffer in 4 good/ { state = 3; next }
    state == 3 && /^read_buffer in 1024 good/ { reads++; next }
    /^flash_status in [0-9]+ good/ { next }
    state == 2 || state == 3 { bad++ }
    END { exit !(state == 3 && writes == 65 && reads == 65 && bad == 0) }'
}

WIN_UPDATE_S="" LINUX_UPDATE_S="" WIN64_UPDATE_S=""

# console_update NAME: the console program (32-bit or x86_64, whichever Wine is selected) on a
# 133.1.0.3 bridge behind usb-storage: list through SetupDi, status, update, then the flash and
# the commands in the gadget's log. UPDATE_S: how long the update took.
UPDATE_S=""
console_update() {
  local n=$1
  start_gadget $n "$SCENARIOS/update-required.scenario" || return 1
  link_disk "$USBSTOR_NAME" "$SG"
  win_cli "$R/$n.list.json" --json list
  check "$n: list exits 0" [ $? -eq 0 ]
  check "$n: list finds the gadget through SetupDi as the usbstor interface, bus USB" json_is "$R/$n.list.json" \
    "len(d['disks'])==1 and d['disks'][0]['path']=='\\\\\\\\?\\\\$USBSTOR_NAME' and d['disks'][0]['bus']=='USB'"
  check "$n: list shows vendor, product, model and version" json_is "$R/$n.list.json" \
    "(lambda x: x['vendor']=='Quorvel' and x['product']=='QVB886 NVMe' and x['model_code']==22 and x['firmware']['version']=='133.1.0.3' and x['firmware']['updatable'])(d['disks'][0])"
  win_cli "$R/$n.status.txt" status
  check "$n: status exits 0, update required" [ $? -eq 0 ]
  check "$n: status shows the version and the offer" grep -q -z 'Firmware version: 133.01.00.03.*Status: Update required' "$R/$n.status.txt"
  local t=$(date +%s.%N)
  win_cli "$R/$n.update.txt" update --yes
  local rc=$?
  UPDATE_S=$(seconds_since "$t")
  check "$n: update exits 0" [ $rc -eq 0 ]
  check "$n: update says \"Successfully updated.\"" grep -q '^Successfully updated\.$' "$R/$n.update.txt"
  stop_gadget
  check "$n: the gadget's flash equals the image within the compare window" flash_matches "$R/$n.flash"
  check "$n: the update's command sequence: info, descriptor, 65 writes, descriptor, 65 reads" \
    update_sequence_ok "$R/$n.cmds"
  check "$n: the 1-byte flash-status read travels as 2" [ "$(count_lines "$R/$n.cmds" '^flash_status in 2 good')" -ge 1 ]
}

scenario_update_required() {
  local n=win-update-required
  console_update $n || return
  WIN_UPDATE_S=$UPDATE_S
  check "$n: no Bulk-Only reset was needed" grep -q '^# resets 0$' "$R/$n.cmds"
}

# The same scenario through the Linux build on a fresh gadget: the same commands, the same flash.
scenario_linux_compare() {
  local n=linux-update-required w=win-update-required
  start_gadget $n "$SCENARIOS/update-required.scenario" || return
  linux_cli "$R/$n.list.json" --json list
  linux_cli "$R/$n.status.txt" status
  local t=$(date +%s.%N)
  linux_cli "$R/$n.update.txt" update --yes
  local rc=$?
  LINUX_UPDATE_S=$(seconds_since "$t")
  check "compare: the Linux build's update exits 0" [ $rc -eq 0 ]
  stop_gadget
  program_commands "$R/$w.cmds" >"$R/compare.windows.cmds"
  program_commands "$R/$n.cmds" >"$R/compare.linux.cmds"
  check "compare: list, status and update leave the same commands in the gadget's log (Wine and Linux)" \
    diff "$R/compare.windows.cmds" "$R/compare.linux.cmds"
  check "compare: the same flash (Wine and Linux)" cmp "$R/$w.flash" "$R/$n.flash"
}

scenario_up_to_date() {
  local n=win-up-to-date
  start_gadget $n "$SCENARIOS/up-to-date.scenario" || return
  link_disk "$USBSTOR_NAME" "$SG"
  win_cli "$R/$n.status.txt" status
  check "$n: status exits 7, nothing to do" [ $? -eq 7 ]
  check "$n: status says up to date" grep -q 'Firmware version: 133.01.00.06' "$R/$n.status.txt"
  win_cli "$R/$n.update.txt" update --yes
  check "$n: update has nothing to do (exit 7)" [ $? -eq 7 ]
  stop_gadget
  check "$n: nothing was written" [ "$(count_lines "$R/$n.cmds" '^write_buffer')" -eq 0 ]
}

# The shipped program, a test build, on a real (unmarked) bridge: refused, nothing written.
scenario_unmarked() {
  local n=win-unmarked
  start_gadget $n "$SCENARIOS/unmarked.scenario" || return
  link_disk "$USBSTOR_NAME" "$SG"
  win_cli "$R/$n.update.txt" update --yes
  check "$n: a test build refuses a bridge without the test mark (exit 9)" [ $? -eq 9 ]
  stop_gadget
  check "$n: no WRITE BUFFER and no vendor write reached the gadget" \
    [ "$(count_lines "$R/$n.cmds" '^(write_buffer|control) ')" -eq 0 ]
}

scenario_piece_fails_once() {
  local n=win-piece-fails-once
  start_gadget $n "$SCENARIOS/piece-fails-once.scenario" || return
  link_disk "$USBSTOR_NAME" "$SG"
  win_cli "$R/$n.update.txt" update --yes
  check "$n: update exits 0" [ $? -eq 0 ]
  check "$n: the second attempt succeeds" grep -q 'Attempt 2 of 2' "$R/$n.update.txt"
  stop_gadget
  check "$n: one piece failed" [ "$(count_lines "$R/$n.cmds" '^write_buffer out 1024 fail')" -eq 1 ]
  check "$n: the flash equals the image" flash_matches "$R/$n.flash"
}

scenario_piece_fails() {
  local n=win-piece-fails
  start_gadget $n "$SCENARIOS/piece-fails.scenario" || return
  link_disk "$USBSTOR_NAME" "$SG"
  win_cli "$R/$n.update.txt" update --yes
  check "$n: update exits 1" [ $? -eq 1 ]
  check "$n: update says \"Update Fail!\"" grep -q 'Update Fail!' "$R/$n.update.txt"
  stop_gadget
  check "$n: two attempts, one failed piece each" [ "$(count_lines "$R/$n.cmds" '^write_buffer out 1024 fail')" -eq 2 ]
}

scenario_vanish() {
  local n=win-vanish
  start_gadget $n "$SCENARIOS/vanish.scenario" || return
  link_disk "$USBSTOR_NAME" "$SG"
  local t=$(date +%s.%N)
  win_cli "$R/$n.update.txt" update --yes
  local rc=$? took=$(seconds_since "$t")
  say "     update under Wine, device vanishing: exit $rc after $took s of guest time"
  check "$n: update ends in failure, not a hang (exit $rc)" [ $rc -ne 0 -a $rc -ne 124 ]
  check "$n: update says \"Update Fail!\"" grep -q 'Update Fail!' "$R/$n.update.txt"
  check "$n: the sg node is gone" wait_for sg_absent 10
  stop_gadget
  check "$n: some pieces were written before it vanished" [ "$(count_lines "$R/$n.cmds" '^write_buffer out 1024 good')" -ge 1 ]
}

scenario_uas() {
  local n=win-uas
  start_uas_gadget $n "$SCENARIOS/update-required.scenario" || { stop_uas_gadget; return; }
  link_disk "$UAS_NAME" "$SG"
  win_cli "$R/$n.list.json" --json list
  check "$n: list exits 0" [ $? -eq 0 ]
  check "$n: list finds the uas interface (\"scsi\"), bus UASP" json_is "$R/$n.list.json" \
    "len(d['disks'])==1 and d['disks'][0]['path']=='\\\\\\\\?\\\\$UAS_NAME' and d['disks'][0]['bus']=='UASP'"
  win_cli "$R/$n.update.txt" update --yes
  check "$n: update exits 0" [ $? -eq 0 ]
  check "$n: update says \"Successfully updated.\"" grep -q '^Successfully updated\.$' "$R/$n.update.txt"
  stop_uas_gadget
  check "$n: the gadget's flash equals the image within the compare window" flash_matches "$R/$n.flash"
  check "$n: the update's command sequence: info, descriptor, 65 writes, descriptor, 65 reads" \
    update_sequence_ok "$R/$n.cmds"
}

# The window program, driven from outside by the Wine tests' driver: its lines for the gadget,
# the bus prefix in the hidden list, Update pressed, "Successfully updated.".
# window_case NAME PREFIX START STOP NODE-NAME
window_case() {
  local n=$1 prefix=$2 start=$3 stop=$4 name=$5
  [ -f "$WIN_DRIVER" ] || { fail "$n: $WIN_DRIVER is not built"; return; }
  $start $n "$SCENARIOS/update-required.scenario" || { $stop; return; }
  link_disk "$name" "$SG"
  local t=$(date +%s.%N)
  QVB_RIG_BUS_PREFIX=$prefix QVB_DRIVER_PROGRAM="Z:${WIN_GUI//\//\\}" \
    timeout 420 "$WINELOADER" "$WIN_DRIVER" --gtest_filter=RigBridge.* >"$R/$n.driver.raw" 2>&1
  local rc=$?
  tr -d '\r' <"$R/$n.driver.raw" >"$R/$n.driver.txt"
  say "     window program driven from outside: exit $rc after $(seconds_since "$t") s"
  check "$n: the driver ran the window case and it passed" \
    grep -q '^\[  PASSED  \] 1 test' "$R/$n.driver.txt"
  $stop
  check "$n: the gadget's flash equals the image within the compare window" flash_matches "$R/$n.flash"
  check "$n: the update's command sequence: info, descriptor, 65 writes, descriptor, 65 reads" \
    update_sequence_ok "$R/$n.cmds"
}
scenario_window() {
  window_case win-window "<<USB>> " start_gadget stop_gadget "$USBSTOR_NAME"
}
scenario_window_uas() {
  window_case win-window-uas "<<UASP>> " start_uas_gadget stop_uas_gadget "$UAS_NAME"
}

# The x86_64 programs under wine64: their own prefix (made on the host by rig.sh), registry seed
# and session. After this the Wine variables and WIN_* name the x86_64 ones.
WINE64_READY=""
use_wine64() {
  [ -z "$WINE64_READY" ] || return "$WINE64_READY"
  WINE64_READY=1
  if [ -n "${QVB_RIG_WINDOWS64_PROBLEM:-}" ]; then
    WINE64_PROBLEM=$QVB_RIG_WINDOWS64_PROBLEM
  else
    WIN32_SESSION="$WINEPREFIX $WINESERVER"
    WIN_CLI=$WIN64/cli/qvb886-fwupdate.exe WIN_GUI=$WIN64/QVB886FWUpdate.exe
    WIN_DRIVER=$WIN64/tests/wine/qvb_wine_driver.exe
    local t=$(date +%s.%N)
    if ! guest_wine_setup "$WIN64" "$WIN_CLI" >>"$R/wine64-setup.out" 2>&1; then
      WINE64_PROBLEM="the win64 prefix could not be set up ($(tail -n 1 "$R/wine64-setup.out"))"
    else
      "$WINESERVER" -p
      if ! seed_registry; then
        WINE64_PROBLEM="the disk interfaces could not be seeded into the win64 prefix's registry"
      else
        say "     win64 prefix and session ready after $(seconds_since "$t") s"
        WINE64_READY=0
      fi
    fi
  fi
  return "$WINE64_READY"
}

# The x86_64 console program on a 133.1.0.3 bridge behind usb-storage: the same list, status and
# update as the 32-bit one, and the same commands in the gadget's log (its 56-byte request and
# larger SetupDi records must not change what reaches the device).
scenario_win64_update_required() {
  local n=win64-update-required w=win-update-required
  use_wine64 || { fail "$n: $WINE64_PROBLEM"; return; }
  console_update $n || return
  WIN64_UPDATE_S=$UPDATE_S
  if [ -f "$R/$w.cmds" ]; then
    program_commands "$R/$n.cmds" >"$R/compare64.x86_64.cmds"
    program_commands "$R/$w.cmds" >"$R/compare64.i686.cmds"
    check "$n: list, status and update leave the same commands as the 32-bit program's" \
      diff "$R/compare64.i686.cmds" "$R/compare64.x86_64.cmds"
  fi
}

scenario_win64_window() {
  use_wine64 || { fail "win64-window: $WINE64_PROBLEM"; return; }
  window_case win64-window "<<USB>> " start_gadget stop_gadget "$USBSTOR_NAME"
}

: >"$LOG"
say "guest: kernel $(uname -r), $(nproc) CPUs, mode $QVB_RIG_MODE, Windows build $WIN"
# A slow guest is told from a stuck one by what runs.
while sleep 30; do
  echo "--- $(elapsed)s"
  ps -eo pid,etime,time,args | grep -v -E '\[|ps -eo'
done >"$R/ps.log" 2>&1 &
load_modules || finish
pass "modules loaded"
make_gadget || { fail "configfs gadget"; finish; }
pass "configfs gadget with FunctionFS"
guest_wine_setup "$WIN" "$WIN_CLI" || { fail "the win32 prefix"; finish; }
pass "win32 prefix ready"
# One session for every program: each start of a session costs tens of seconds here. Each
# program is its own process and meets one device node (Wine keeps at most five per process).
"$WINESERVER" -p
# The window program needs a display; the console programs' session uses the same one.
Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>/run/rig/display >/dev/null 2>"$R/xvfb.err" &
wait_for "[ -s /run/rig/display ]" 20 && export DISPLAY=:$(cat /run/rig/display)
check "the disk interfaces seeded into Wine's registry" seed_registry
for s in update_required linux_compare up_to_date unmarked piece_fails_once piece_fails vanish uas window window_uas \
  win64_update_required win64_window; do
  if [ -n "$QVB_RIG_ONLY" ] && ! echo ",$QVB_RIG_ONLY," | grep -q ",$s,"; then continue; fi
  # Without --windows64 the x86_64 programs are not asked for (ctest always names their build).
  case "$s:$WIN64" in win64_*:) say "     $s not run: no x86_64 Windows build given (rig.sh --windows64)"; continue ;; esac
  # Each scenario is a new bridge on the same path: what an earlier one left waiting for its
  # power cycle is forgotten, as its power cycle would have done.
  rm -rf "$WINEPREFIX/drive_c/ProgramData/qvb886-fwupdate"
  scenario_$s
  stop_gadget
  stop_uas_gadget
done
[ -n "$WIN_UPDATE_S" ] && say "benchmark: update --yes of 133.1.0.3 through usb-storage: Windows build under Wine (IOCTL_SCSI_PASS_THROUGH_DIRECT to SG_IO) $WIN_UPDATE_S s, Linux build (SG_IO) ${LINUX_UPDATE_S:-?} s of guest time, process start included${WIN64_UPDATE_S:+; x86_64 Windows build under wine64 $WIN64_UPDATE_S s}"
"$WINESERVER" -k >/dev/null 2>&1
if [ -n "${WIN32_SESSION:-}" ]; then
  set -- $WIN32_SESSION
  WINEPREFIX=$1 "$2" -k >/dev/null 2>&1
fi
finish
