#!/bin/bash
# Runs inside the rig's guest (root, the host's files read-only, the mingw build folder writable
# at its own path): the 32-bit Windows build's ctest under 32-bit Wine, for hosts whose kernel
# does not execute 32-bit programs. The guest's CPU is emulated, so 32-bit code runs here.
#
# Results go to the writable share: guest.log, ctest.log, ps.log (what ran, every 30 s), status
# (ctest's exit code). Screenshots land in the build folder as on the host.
set -u
. "$QVB_RIG_RESULTS/rig.env"
R=$QVB_RIG_RESULTS
LOG=$R/guest.log
B=$QVB_RIG_BUILD
t0=$(date +%s.%N)
elapsed() { awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }
say() { echo "[$(elapsed)s] $*" | tee -a "$LOG"; }
finish() {
  echo "$1" >"$R/status"
  say "guest: done, status $1"
  sync
  exit 0
}

: >"$LOG"
say "guest: kernel $(uname -r), $(nproc) CPUs, $(awk '/MemTotal/ {print int($2 / 1024)}' /proc/meminfo) MiB, 32-bit Windows tests of $B"
# A slow guest is told from a stuck one by what runs.
while sleep 30; do
  echo "--- $(elapsed)s"
  ps -eo pid,etime,time,args | grep -v -E '\[|ps -eo'
done >"$R/ps.log" 2>&1 &

. "$QVB_RIG_SRC/usb_rig/guest/wine-prefix.sh"
guest_wine_setup "$B" "$B/QVB886FWUpdate.exe" || finish 1
"$WINESERVER" -k >/dev/null 2>&1

# One display and one Wine session for the tests that run one program each: starting a session
# costs half a minute here. The window tests start their own display and session.
Xvfb :7 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
# The window tests' waits for the programs stretch to match the emulated CPU.
export DISPLAY=:7 QVB_WINE_SESSION=keep QVB_WINE_WAIT_SCALE=6
"$WINESERVER" -p
"$WINELOADER" cmd.exe /c exit </dev/null >/dev/null 2>&1
say "Wine session started"

# What to run: all of the build's tests, or the set the host asked for.
args=(--test-dir "$B" --output-on-failure --timeout 900)
[ -n "${QVB_RIG_CTEST_ARGS:-}" ] && read -r -a extra <<<"$QVB_RIG_CTEST_ARGS" && args+=("${extra[@]}")
say "ctest ${args[*]}"
ctest "${args[@]}" >"$R/ctest.log" 2>&1
rc=$?
grep -E '^ *[0-9]+/[0-9]+ Test|tests passed|tests failed' "$R/ctest.log" | tee -a "$LOG"
finish $rc
