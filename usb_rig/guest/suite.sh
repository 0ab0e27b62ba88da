#!/bin/bash
# Runs inside the rig's guest (as PID 1's child, root, the host's files read-only): loads the
# USB, SCSI and gadget drivers, then for each scenario serves it as a USB mass-storage gadget and
# drives qvb886-fwupdate through the kernel's usb-storage (or uas) and sg drivers. Results go to the
# writable share: guest.log (PASS/FAIL lines), status (the number of failures), per scenario the
# tool's output, the gadget's command log and its flash.
set -u
. "$QVB_RIG_RESULTS/rig.env"
. "$QVB_RIG_SRC/usb_rig/guest/common.sh"
CLI=$QVB_RIG_BUILD/cli/qvb886-fwupdate
BENCH=$QVB_RIG_BUILD/usb_rig/qvb-rig-bench
HOTPLUG=$QVB_RIG_BUILD/usb_rig/qvb-rig-hotplug

run_cli() {
  local out=$1
  shift
  timeout 120 "$CLI" "$@" >"$out" 2>"$out.err"
}

scenario_update_required() {
  local n=update-required
  start_gadget $n "$SCENARIOS/$n.scenario" || return
  run_cli "$R/$n.list.json" list --json
  check "$n: list exits 0" [ $? -eq 0 ]
  check "$n: list finds the gadget on usb-storage as $SG" json_is "$R/$n.list.json" \
    "len(d['disks'])==1 and d['disks'][0]['path']=='$SG' and d['disks'][0]['bus']=='USB'"
  check "$n: list shows vendor, product, model and version" json_is "$R/$n.list.json" \
    \
    "(lambda x: x['vendor']=='Quorvel' and x['product']=='QVB886 NVMe' and x['model_code']==22 and x['model']=='886' and x['firmware']['version']=='133.1.0.3' and x['firmware']['updatable'])(d['disks'][0])"
  run_cli "$R/$n.status.txt" status
  check "$n: status exits 0, update required" [ $? -eq 0 ]
  check "$n: status shows the version and the offer" grep -q -z 'Firmware version: 133.01.00.03.*Status: Update required' "$R/$n.status.txt"
  local t=$(date +%s.%N)
  run_cli "$R/$n.update.txt" update --yes
  local rc=$?
  say "     update took $(awk -v a="$t" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }') s of guest time"
  check "$n: update exits 0" [ $rc -eq 0 ]
  check "$n: update says \"Successfully updated.\"" grep -q '^Successfully updated\.$' "$R/$n.update.txt"

  # Hot-plug: the enumeration sees the disk go and come back.
  unbind_udc
  check "$n: unbind removes the sg node" wait_for sg_absent 10
  run_cli "$R/$n.gone.json" list --json
  check "$n: list after unbind: no device (exit 3)" [ $? -eq 3 ]
  check "$n: list after unbind shows no disk" json_is "$R/$n.gone.json" "len(d['disks'])==0"
  bind_udc
  check "$n: rebind brings the sg node back" wait_for sg_present 15
  SG=$(sg_node)
  run_cli "$R/$n.back.json" list --json
  check "$n: list after rebind finds it again" json_is "$R/$n.back.json" \
    "len(d['disks'])==1 and d['disks'][0]['path']=='$SG' and d['disks'][0]['firmware']['version']=='133.1.0.3'"
  stop_gadget
  check "$n: the gadget's flash equals the image within the compare window" flash_matches "$R/$n.flash"
  local c=$R/$n.cmds
  check "$n: 65 pieces written and 65 read back" \
    [ "$(count_lines "$c" '^write_buffer out 1024 good')" -eq 65 -a "$(count_lines "$c" '^read_buffer in 1024 good')" -eq 65 ]
  check "$n: the 1-byte flash-status read travels as 2" [ "$(count_lines "$c" '^flash_status in 2 good')" -ge 1 ]
  # A reset is what a mishandled short reply costs (7 s each); its count, not the clock, shows it.
  check "$n: no Bulk-Only reset was needed" grep -q '^# resets 0$' "$c"
}

scenario_up_to_date() {
  local n=up-to-date
  start_gadget $n "$SCENARIOS/$n.scenario" || return
  run_cli "$R/$n.status.txt" status
  check "$n: status exits 7, nothing to do" [ $? -eq 7 ]
  check "$n: status says up to date" grep -q 'Firmware version: 133.01.00.06' "$R/$n.status.txt"
  run_cli "$R/$n.update.txt" update --yes
  check "$n: update has nothing to do (exit 7)" [ $? -eq 7 ]
  stop_gadget
  check "$n: nothing was written" [ "$(count_lines "$R/$n.cmds" '^write_buffer')" -eq 0 ]
}

# A test build on a real (unmarked) bridge: refused with its own code, nothing written.
scenario_unmarked() {
  local n=unmarked
  start_gadget $n "$SCENARIOS/$n.scenario" || return
  run_cli "$R/$n.update.txt" update --yes
  check "$n: a test build refuses a bridge without the test mark (exit 9)" [ $? -eq 9 ]
  stop_gadget
  check "$n: no WRITE BUFFER and no vendor write reached the gadget" \
    [ "$(count_lines $R/$n.cmds '^(write_buffer|control) ')" -eq 0 ]
}

scenario_piece_fails() {
  local n=piece-fails
  start_gadget $n "$SCENARIOS/$n.scenario" || return
  run_cli "$R/$n.update.txt" update --yes
  check "$n: update exits 1" [ $? -eq 1 ]
  check "$n: update says \"Update Fail!\"" grep -q 'Update Fail!' "$R/$n.update.txt"
  stop_gadget
  local c=$R/$n.cmds
  check "$n: two attempts, one failed piece each" [ "$(count_lines "$c" '^write_buffer out 1024 fail')" -eq 2 ]
  # usb-storage asks for sense itself after CHECK CONDITION; the program's own REQUEST SENSE
  # still follows each failed piece.
  check "$n: each failed piece is followed by two REQUEST SENSEs (driver's, program's)" \
    [ "$(grep -A2 '^write_buffer out 1024 fail' "$c" | grep -c '^request_sense .* good')" -eq 4 ]
}

scenario_piece_fails_once() {
  local n=piece-fails-once
  start_gadget $n "$SCENARIOS/$n.scenario" || return
  run_cli "$R/$n.update.txt" update --yes
  check "$n: update exits 0" [ $? -eq 0 ]
  check "$n: second attempt succeeds" grep -q 'Attempt 2 of 2' "$R/$n.update.txt"
  stop_gadget
  check "$n: the flash equals the image" flash_matches "$R/$n.flash"
}

# json_same A B: the two documents are equal, member for member.
json_same() {
  python3 -c 'import json,sys; a,b=(json.load(open(f)) for f in sys.argv[1:3]); sys.exit(0 if a==b else 1)' "$1" "$2"
}

# A recording of the gadget replayed by --virtual gives the same list and status, and neither the
# recording nor a dry run writes anything to the bridge.
scenario_record_replay() {
  local n=record-replay
  start_gadget $n "$SCENARIOS/update-required.scenario" || return
  run_cli "$R/$n.list.json" list --json
  local list_rc=$?
  run_cli "$R/$n.status.json" status --json
  local status_rc=$?
  run_cli "$R/$n.record.txt" record "$R/$n.recording"
  check "$n: record exits 0" [ $? -eq 0 ]
  stop_gadget
  check "$n: record sent no WRITE BUFFER and no vendor write" \
    [ "$(count_lines "$R/$n.cmds" '^(write_buffer|control) ')" -eq 0 ]
  check "$n: the recording keeps the gadget's path" \
    grep -q "^path = $SG\$" "$R/$n.recording"
  run_cli "$R/$n.replay-list.json" --virtual "$R/$n.recording" list --json
  check "$n: the replayed list exits as the gadget's did ($list_rc)" [ $? -eq $list_rc ]
  check "$n: the replayed list --json equals the gadget's" json_same "$R/$n.list.json" "$R/$n.replay-list.json"
  run_cli "$R/$n.replay-status.json" --virtual "$R/$n.recording" status --json
  check "$n: the replayed status exits as the gadget's did ($status_rc)" [ $? -eq $status_rc ]
  check "$n: the replayed status --json equals the gadget's" json_same "$R/$n.status.json" "$R/$n.replay-status.json"

  n=dry-run
  start_gadget $n "$SCENARIOS/update-required.scenario" || return
  run_cli "$R/$n.txt" --log "$R/$n.log" update --dry-run
  check "$n: the dry run would go ahead (exit 0)" [ $? -eq 0 ]
  stop_gadget
  check "$n: no WRITE BUFFER and no vendor write reached the gadget" \
    [ "$(count_lines "$R/$n.cmds" '^(write_buffer|control) ')" -eq 0 ]
  check "$n: the buffer descriptor was read" [ "$(count_lines "$R/$n.cmds" '^read_buffer in 4 good')" -ge 1 ]
  check "$n: the run is in its log" grep -q 'step outcome of update' "$R/$n.log"
}

scenario_vanish() {
  local n=vanish
  start_gadget $n "$SCENARIOS/$n.scenario" || return
  local t=$(date +%s)
  run_cli "$R/$n.update.txt" update --yes
  local rc=$?
  check "$n: update ends in failure, not a hang (exit $rc)" [ $rc -ne 0 -a $rc -ne 124 ]
  check "$n: the device vanished mid-download" [ "$(count_lines "$R/$n.update.txt" 'Update Fail!')" -ge 1 ]
  check "$n: the sg node is gone" wait_for sg_absent 10
  stop_gadget
  check "$n: some pieces were written before it vanished" [ "$(count_lines "$R/$n.cmds" '^write_buffer out 1024 good')" -ge 1 ]
}

# Another process holds the sg node with O_EXCL. The sg driver makes a plain open wait until it
# lets go; the updater opens non-blocking, so list and status end at once, report the disk as
# busy (exit 3, as no disk they can use), and find it again once the holder is gone.
scenario_exclusive_holder() {
  local n=exclusive-holder
  start_gadget $n "$SCENARIOS/update-required.scenario" || return
  rm -f /run/rig/holder.ready
  python3 -c 'import os, signal, sys
fd = os.open(sys.argv[1], os.O_RDWR | os.O_EXCL)
open(sys.argv[2], "w").close()
signal.pause()' "$SG" /run/rig/holder.ready 2>>"$R/$n.holder.err" &
  local holder=$!
  if ! wait_for "[ -f /run/rig/holder.ready ]" 10; then
    fail "$n: a second process could not hold $SG with O_EXCL"
    kill $holder 2>/dev/null
    wait $holder 2>/dev/null
    return
  fi
  pass "$n: a second process holds $SG with O_EXCL"
  local command
  for command in list status; do
    local t=$(date +%s.%N)
    timeout 15 "$CLI" $command --json >"$R/$n.$command.json" 2>"$R/$n.$command.err"
    local rc=$? took=$(awk -v a="$t" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
    check "$n: $command ends at once instead of waiting for the holder (exit $rc after $took s)" \
      awk -v rc=$rc -v s="$took" 'BEGIN { exit !(rc != 124 && s < 5) }'
    check "$n: $command finds no disk it can open (exit 3)" [ $rc -eq 3 ]
    check "$n: $command reports the held disk as busy, not as missing" json_is "$R/$n.$command.json" \
      "d['outcome']=='no_device' and d['denied']==[{'path':'$SG','reason':'busy'}]"
    check "$n: $command says \"Busy: $SG\"" grep -qx "Busy: $SG" "$R/$n.$command.err"
  done
  kill $holder
  wait $holder 2>/dev/null
  run_cli "$R/$n.after.json" list --json
  check "$n: once the holder is gone, list finds the disk again" json_is "$R/$n.after.json" \
    "len(d['disks'])==1 and d['disks'][0]['path']=='$SG' and d['disks'][0]['firmware']['version']=='133.1.0.3'"
  stop_gadget
  check "$n: nothing reached the device while it was held" \
    [ "$(count_lines "$R/$n.cmds" '^write_buffer')" -eq 0 ]
}

# The power cycle through the kernel. A second run sees the record of the first (status exits
# 8, update refuses); the gadget is unplugged and served again at the version the bridge runs
# after its power cycle, 133.1.0.6, and status confirms it. Then update --wait in the background
# while the gadget goes and comes back: at 133.1.0.6 confirmed, at 133.1.0.3 "did not take" (11).
# The gadget's model keeps its version across the write, so a new gadget at the wanted version
# plays the bridge after its power cycle, with the same USB serial and INQUIRY data.
scenario_power_cycle() {
  local n=power-cycle
  # As root the record goes to /var/lib/qvb886-fwupdate, on the host's read-only root here: a
  # tmpfs over the guest's view of /var/lib holds it for this scenario.
  mount -t tmpfs -o size=1m rig-state /var/lib || { fail "$n: no writable /var/lib for the record"; return; }
  local record=/var/lib/qvb886-fwupdate/waiting.txt
  start_gadget $n.write "$SCENARIOS/update-required.scenario" || { umount /var/lib; return; }
  run_cli "$R/$n.update.txt" update --yes --no-wait
  check "$n: update --no-wait exits 0 after the write" [ $? -eq 0 ]
  check "$n: update --no-wait does not wait" \
    [ "$(count_lines "$R/$n.update.txt" '^(Now power the device|The device is gone)')" -eq 0 ]
  check "$n: the record of the write is in $record" grep -q "$SG" "$record"
  run_cli "$R/$n.pending.json" status --json
  check "$n: status in a second run: waiting for the power cycle (exit 8)" [ $? -eq 8 ]
  check "$n: ... and names the record" json_is "$R/$n.pending.json" \
    "d['outcome']=='power_cycle_pending' and d['waiting_record']['path']=='$SG' and d['waiting_record']['previous_version']=='133.1.0.3' and d['waiting_record']['file']=='$record'"
  run_cli "$R/$n.again.txt" update --yes --no-wait
  check "$n: a second update refuses the waiting bridge (exit 8)" [ $? -eq 8 ]
  stop_gadget
  check "$n: the first gadget was written once, the second update wrote nothing" \
    [ "$(count_lines "$R/$n.write.cmds" '^write_buffer out 1024 good')" -eq 65 ]
  start_gadget $n.after "$SCENARIOS/up-to-date.scenario" || { umount /var/lib; return; }
  run_cli "$R/$n.confirmed.json" status --json
  check "$n: after the power cycle status reads 133.1.0.6 (exit 7)" [ $? -eq 7 ]
  check "$n: ... up to date, the record ended" json_is "$R/$n.confirmed.json" \
    "d['outcome']=='up_to_date' and d['waiting_record'] is None and d['lines'][2]=='Firmware version: 133.01.00.06'"
  stop_gadget

  # The whole loop in one run: the update waits, the gadget goes and comes back at $version.
  local version
  for version in 133.1.0.6 133.1.0.3; do
    local m=$n.wait-$version back=up-to-date.scenario
    [ $version = 133.1.0.3 ] && back=update-required.scenario
    start_gadget $m "$SCENARIOS/update-required.scenario" || break
    timeout 120 "$CLI" --json update --yes --wait >"$R/$m.json" 2>"$R/$m.err" &
    local updater=$!
    if ! wait_for "grep -q '^Now power the device off and on' '$R/$m.err'" 60; then
      fail "$n: waiting, back at $version: update --wait did not come to the wait"
      kill $updater 2>/dev/null
      wait $updater
      stop_gadget
      continue
    fi
    stop_gadget
    check "$n: waiting, back at $version: the waiting update sees the device go" \
      wait_for "grep -q '^The device is gone' '$R/$m.err'" 20
    start_gadget $m.back "$SCENARIOS/$back" || { kill $updater 2>/dev/null; wait $updater; break; }
    wait $updater
    local rc=$?
    if [ $version = 133.1.0.6 ]; then
      check "$n: waiting, back at $version: update --wait confirms the new firmware (exit 0)" [ $rc -eq 0 ]
      check "$n: waiting, back at $version: ... confirmed: true, no record left" json_is "$R/$m.json" \
        "d['outcome']=='updated' and d['confirmed'] is True and d['waiting_record'] is None and d['lines'][2]=='Firmware version: 133.01.00.06' and d['lines'][3]=='Status: Up to date'"
      check "$n: waiting, back at $version: ... and says so" grep -q '^Confirmed: the device runs the new firmware 133.1.0.6.$' "$R/$m.err"
    else
      check "$n: waiting, back at $version: update --wait: the write did not take (exit 11)" [ $rc -eq 11 ]
      check "$n: waiting, back at $version: ... outcome not_taken, confirmed: false" json_is "$R/$m.json" \
        "d['outcome']=='not_taken' and d['confirmed'] is False and d['lines'][2]=='Firmware version: 133.01.00.03'"
      check "$n: waiting, back at $version: ... and says so" grep -q 'after its power cycle: the update did not take' "$R/$m.err"
      run_cli "$R/$m.status.txt" status
      check "$n: waiting, back at $version: status afterwards offers the update again (exit 0)" [ $? -eq 0 ]
    fi
    stop_gadget
  done
  umount /var/lib
}

# Short transfers and a failed data-in through usb-storage, one command each with sg_raw: a
# missing zero-length packet or a missing halt would show as a time-out and a Bulk-Only reset.
scenario_short_replies() {
  local n=short-replies
  local sg_raw=$QVB_RIG_CACHE/sg3/usr/bin/sg_raw
  export LD_LIBRARY_PATH=$QVB_RIG_CACHE/sg3/usr/lib/x86_64-linux-gnu
  start_gadget $n "$SCENARIOS/$n.scenario" || return
  timeout 60 "$sg_raw" -r 1024 -o "$R/$n.piece" -n $SG 3c 01 00 00 04 00 00 04 00 00 >>"$R/checks.out" 2>&1
  check "$n: READ BUFFER short on a packet boundary succeeds" [ $? -eq 0 ]
  check "$n: ... and delivers 512 bytes" [ "$(stat -c %s "$R/$n.piece" 2>/dev/null)" = 512 ]
  timeout 60 "$sg_raw" -r 4 -o "$R/$n.flash_id" -n $SG ff 04 15 00 00 00 00 00 00 00 00 00 >>"$R/checks.out" 2>&1
  check "$n: a read that delivers nothing succeeds" [ $? -eq 0 ]
  timeout 60 "$sg_raw" -r 40 -o "$R/$n.name" -n $SG ff 04 30 00 00 00 00 00 00 00 00 00 >>"$R/checks.out" 2>&1
  local rc=$?
  check "$n: a failed data-in reports failure (sg_raw exit $rc)" [ $rc -ne 0 -a $rc -ne 124 ]
  stop_gadget
  unset LD_LIBRARY_PATH
  # A reset is what a mishandled short reply costs (7 s each); its count, not the clock, shows it.
  check "$n: no Bulk-Only reset was needed" grep -q '^# resets 0$' "$R/$n.cmds"
}

# Debian's udevd, unpacked, not installed: udevadm is udevd when called by that name.
start_udevd() {
  local udevadm=$QVB_RIG_CACHE/udev/bin/udevadm
  [ -x "$udevadm" ] || return 1
  mkdir -p /run/rig/rig-bin /run/udev
  ln -sf "$udevadm" /run/rig/rig-bin/systemd-udevd
  /run/rig/rig-bin/systemd-udevd --daemon --resolve-names=never 2>>"$R/udevd.err" || return 1
  wait_for "[ -S /run/udev/control ]" 5
}

# Hot-plug as the window sees it: the window's own translation on a udev monitor while the
# gadget is unplugged and plugged back.
scenario_hotplug() {
  local n=hotplug
  [ -x "$HOTPLUG" ] || { fail "$n: $HOTPLUG is not built (libudev missing?)"; return; }
  # Only here: the other scenarios run as before, with no udevd touching the new nodes.
  if [ ! -S /run/udev/control ]; then
    start_udevd || { fail "$n: Debian's udevd did not start"; return; }
    pass "$n: Debian's udevd running"
  fi
  start_gadget $n "$SCENARIOS/up-to-date.scenario" || return
  rm -f /run/rig/hotplug.ready
  # Appending, so that the marker between unplug and plug lands between the events.
  : >"$R/$n.events"
  "$HOTPLUG" --source udev --ready /run/rig/hotplug.ready >>"$R/$n.events" 2>"$R/$n.events.err" &
  local watch=$!
  wait_for "[ -f /run/rig/hotplug.ready ]" 5 || { fail "$n: the monitor did not start"; kill $watch; return; }
  unbind_udc
  check "$n: unbind removes the sg node" wait_for sg_absent 10
  check "$n: the monitor sees the USB device's removal" \
    wait_for "grep -q '^event remove usb usb_device ' '$R/$n.events'" 10
  echo "-- plug" >>"$R/$n.events"
  bind_udc
  check "$n: rebind brings the sg node back" wait_for sg_present 15
  check "$n: the monitor sees the sg node's arrival" \
    wait_for "grep -q '^event add scsi_generic ' '$R/$n.events'" 10
  kill -TERM $watch
  wait $watch
  local out=$R/$n.events
  sed -n '/^-- plug/q;p' "$out" >"$out.unplug"
  sed -n '/^-- plug/,$p' "$out" | tail -n +2 >"$out.plug"
  check "$n: removal of the USB device gives 0x8004 then 7" \
    grep -qx 'event remove usb usb_device -> 0x8004 7' "$out.unplug"
  check "$n: the removal's other events give 7 alone" \
    [ "$(grep -v 'usb_device' "$out.unplug" | grep -vc -- '-> 7$')" -eq 0 ]
  check "$n: the sg node's removal is among them" grep -qx 'event remove scsi_generic - -> 7' "$out.unplug"
  check "$n: arrival of the USB device gives 7" grep -qx 'event add usb usb_device -> 7' "$out.plug"
  check "$n: every arrival event gives 7 alone, none 0x8004" \
    [ "$(grep -c '^event' "$out.plug")" -ge 2 -a "$(grep -vc -- '-> 7$' "$out.plug")" -eq 0 ]
  stop_gadget
}


scenario_uas() {
  local n=uas
  start_uas_gadget $n "$SCENARIOS/update-required.scenario" || { stop_uas_gadget; return; }
  check "$n: the disk is bound to uas, not usb-storage" uas_bound
  run_cli "$R/$n.list.json" list --json
  check "$n: list exits 0" [ $? -eq 0 ]
  check "$n: list reports bus \"UASP\" for $SG" json_is "$R/$n.list.json" \
    "len(d['disks'])==1 and d['disks'][0]['path']=='$SG' and d['disks'][0]['bus']=='UASP'"
  check "$n: list shows model and version" json_is "$R/$n.list.json" \
    "(lambda x: x['model']=='886' and x['firmware']['version']=='133.1.0.3' and x['firmware']['updatable'])(d['disks'][0])"
  run_cli "$R/$n.status.txt" status
  check "$n: status exits 0, update required" [ $? -eq 0 ]
  local t=$(date +%s.%N)
  run_cli "$R/$n.update.txt" update --yes
  local rc=$?
  say "     update through uas took $(awk -v a="$t" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }') s of guest time"
  check "$n: update exits 0" [ $rc -eq 0 ]
  check "$n: update says \"Successfully updated.\"" grep -q '^Successfully updated\.$' "$R/$n.update.txt"
  stop_uas_gadget
  check "$n: the gadget's flash equals the image within the compare window" flash_matches "$R/$n.flash"
  local c=$R/$n.cmds
  check "$n: 65 pieces written and 65 read back" \
    [ "$(count_lines "$c" '^write_buffer out 1024 good')" -eq 65 -a "$(count_lines "$c" '^read_buffer in 1024 good')" -eq 65 ]
  check "$n: the host switched to the UAS setting" grep -q '^# alt 1$' "$c"
  dmesg | grep -iE 'uas|data cmplt|overflow|babble' >"$R/$n.dmesg" 2>/dev/null
}

# What uas does differently, with the updater on top: a flash-status read (1 byte, sent as 2)
# of a 2-byte reply and of a longer one, and a failed piece whose sense comes in the status unit.
scenario_uas_quirks() {
  local n=uas-quirks
  start_uas_gadget $n-busy "$SCENARIOS/flash-busy.scenario" || { stop_uas_gadget; return; }
  run_cli "$R/$n-busy.status.txt" status
  check "$n: status exits 0 (flash busy, 2-byte status reply)" [ $? -eq 0 ]
  stop_uas_gadget
  local busy_reads=$(count_lines "$R/$n-busy.cmds" '^flash_status ')
  check "$n: the 2-byte status reply arrives: three busy reads are polled through ($busy_reads reads)" \
    [ "$(count_lines "$R/$n-busy.cmds" '^flash_status in [0-9]+ good 2$')" -ge 4 ]

  # The kernel's view first: two flash-status reads with sg_raw, of a bridge whose reply is 4 bytes.
  dmesg -c >/dev/null 2>&1
  start_uas_gadget $n-raw "$SCENARIOS/flash-busy.scenario" --reply-length flash_status=4 ||
    { stop_uas_gadget; return; }
  local sg_raw=$QVB_RIG_CACHE/sg3/usr/bin/sg_raw i
  for i in 1 2; do
    local t=$(date +%s.%N)
    LD_LIBRARY_PATH=$QVB_RIG_CACHE/sg3/usr/lib/x86_64-linux-gnu timeout 60 "$sg_raw" -vv -t 10 \
      -r 2 -o "$R/$n-raw.$i.bin" $SG ff 04 12 00 00 00 00 00 00 00 00 00 >"$R/$n-raw.$i.txt" 2>&1
    echo "exit $? after $(awk -v a="$t" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }') s" >>"$R/$n-raw.$i.txt"
  done
  stop_uas_gadget
  dmesg >"$R/$n-raw.dmesg" 2>&1
  # Which way it fails is a race between the data and the status pipe: mostly GOOD with the
  # residue equal to the length, at times DID_ERROR. Never does the kernel report data.
  for i in 1 2; do
    say "     uas, 2-byte read of a 4-byte reply #$i: $(grep -oE 'Host_status=[^ ]+' "$R/$n-raw.$i.txt" || echo 'SCSI status GOOD'), $(tail -1 "$R/$n-raw.$i.txt")"
  done
  check "$n: sg_raw: a 2-byte read of a 4-byte reply never delivers data" \
    [ "$(grep -ci 'no data received' "$R/$n-raw.1.txt" "$R/$n-raw.2.txt" | grep -c ':1$')" -eq 2 ]
  check "$n: ... and the kernel log says why (data cmplt err -75)" grep -q 'cmplt err -75' "$R/$n-raw.dmesg"

  dmesg -c >/dev/null 2>&1
  start_uas_gadget $n-long "$SCENARIOS/flash-busy.scenario" --reply-length flash_status=4 ||
    { stop_uas_gadget; return; }
  local t=$(date +%s.%N)
  run_cli "$R/$n-long.status.txt" status
  local rc=$? took=$(awk -v a="$t" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
  stop_uas_gadget
  dmesg >"$R/$n-long.dmesg" 2>&1
  # The updater copies its whole buffer whatever the residue says: the bytes that fitted before
  # the overflow are there, so it still sees "busy" although the kernel says nothing arrived.
  # Were they not (zeros), a busy flash would read as ready.
  say "     updater over a 4-byte status reply: exit $rc after $took s, $(count_lines "$R/$n-long.cmds" '^flash_status ') flash-status reads (a busy flash needs $busy_reads), $(count_lines "$R/$n-long.dmesg" 'uas_eh_abort_handler') aborts"
  check "$n: the updater's status still ends (exit $rc) over a 4-byte status reply" [ $rc -eq 0 ]
  check "$n: ... and polls the busy flash as often as with a 2-byte reply" \
    [ "$(count_lines "$R/$n-long.cmds" '^flash_status ')" -eq "$busy_reads" ]

  start_uas_gadget $n-sense "$SCENARIOS/piece-fails-once.scenario" || { stop_uas_gadget; return; }
  run_cli "$R/$n-sense.update.txt" update --yes
  check "$n: a failed piece through uas: update exits 0" [ $? -eq 0 ]
  check "$n: ... on the second attempt" grep -q 'Attempt 2 of 2' "$R/$n-sense.update.txt"
  stop_uas_gadget
  check "$n: ... and the flash equals the image" flash_matches "$R/$n-sense.flash"
  local c=$R/$n-sense.cmds
  # uas has the sense from the status unit: the one REQUEST SENSE after the failure is the
  # updater's own, and it still reaches the device.
  check "$n: after the failed piece exactly one REQUEST SENSE reaches the device (the updater's)" \
    [ "$(grep -A2 '^write_buffer out 1024 fail' "$c" | grep -c '^request_sense ')" -eq 1 -a \
      "$(count_lines "$c" '^request_sense ')" -eq 1 ]
}

# The UAS device disappears in the middle of the download: the gadget takes itself off the bus
# through the UDC's soft switch. The uas driver must fail the command in flight, not wait on it.
scenario_uas_vanish() {
  local n=uas-vanish
  start_uas_gadget $n "$SCENARIOS/$n.scenario" --disconnect /sys/class/udc/dummy_udc.0/soft_connect ||
    { stop_uas_gadget; return; }
  check "$n: the disk is bound to uas, not usb-storage" uas_bound
  local t=$(date +%s.%N)
  run_cli "$R/$n.update.txt" update --yes
  local rc=$? took=$(awk -v a="$t" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
  say "     update through uas, device vanishing: exit $rc after $took s of guest time"
  check "$n: update ends in failure, not a hang (exit $rc)" [ $rc -ne 0 -a $rc -ne 124 ]
  check "$n: ... within 30 s ($took s)" awk -v s="$took" 'BEGIN { exit !(s < 30) }'
  check "$n: update says \"Update Fail!\"" grep -q 'Update Fail!' "$R/$n.update.txt"
  check "$n: the sg node is gone" wait_for sg_absent 10
  stop_uas_gadget
  dmesg >"$R/$n.dmesg" 2>&1
  local c=$R/$n.cmds
  check "$n: the gadget disconnected itself" grep -q '^# disconnected 1$' "$c"
  check "$n: some pieces were written before it vanished" [ "$(count_lines "$c" '^write_buffer out 1024 good')" -ge 1 ]
}

# run_bench [BENCH OPTIONS]: the benchmark's table into the log; only its running is checked.
run_bench() {
  start_gadget bench "$SCENARIOS/update-required.scenario" || return
  local TIMEFORMAT="%R s wall, %U s user, %S s system"
  say "--- qvb886-fwupdate update --yes as its own process"
  { time "$CLI" update --yes >"$R/bench.update.txt" 2>&1; } 2>>"$LOG"
  tail -1 "$LOG"
  say "--- qvb-rig-bench"
  LD_LIBRARY_PATH=$QVB_RIG_CACHE/sg3/usr/lib/x86_64-linux-gnu \
    timeout 300 "$BENCH" --work /run/rig "$@" 2>&1 | tee -a "$LOG"
  check "bench: ran" [ ${PIPESTATUS[0]} -eq 0 ]
  stop_gadget
}

# The suite's boot runs the benchmark once, briefly (one round, no sg_raw baseline: that alone
# takes 40 s under emulation), so that it cannot break unseen.
scenario_bench() {
  run_bench --rounds 1 --latency-count 50
}

: >"$LOG"
say "guest: kernel $(uname -r), $(nproc) CPUs, mode $QVB_RIG_MODE"
load_modules || finish
pass "modules loaded"
make_gadget || { fail "configfs gadget"; finish; }
pass "configfs gadget with FunctionFS"
if [ "$QVB_RIG_MODE" = bench ]; then
  run_bench --sg-raw "$QVB_RIG_CACHE/sg3/usr/bin/sg_raw"
else
  for s in update_required up_to_date unmarked piece_fails piece_fails_once short_replies vanish exclusive_holder \
    power_cycle record_replay hotplug uas uas_quirks uas_vanish bench; do
    if [ -n "$QVB_RIG_ONLY" ] && ! echo ",$QVB_RIG_ONLY," | grep -q ",$s,"; then continue; fi
    scenario_$s
    stop_gadget
  done
fi
finish
