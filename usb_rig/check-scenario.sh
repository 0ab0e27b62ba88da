#!/usr/bin/env bash
# One scenario's verdict from the rig's last boot: its PASS lines in the guest log, and no FAIL.
#   check-scenario.sh RESULTS_DIR NAME
set -u
results="$1"
name="$2"
log="$results/guest.log"
[ -f "$log" ] || { echo "no guest log in $results: the rig did not run" >&2; exit 1; }
passed=$(grep -cE "^PASS \[[ 0-9.]+s\] $name: " "$log")
failed=$(grep -E "^FAIL \[[ 0-9.]+s\] $name: " "$log")
grep -E "^(PASS|FAIL) \[[ 0-9.]+s\] $name: " "$log"
if [ -n "$failed" ]; then
  echo "scenario $name: failed checks" >&2
  exit 1
fi
if [ "$passed" -eq 0 ]; then
  echo "scenario $name: no check ran" >&2
  exit 1
fi
echo "scenario $name: $passed checks passed"
