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
export HOME=/run/home TMPDIR=/run/tmp XDG_RUNTIME_DIR=/run/user
mkdir -p "$HOME" "$TMPDIR" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# Xvfb compiles its keymap into /var/lib/xkb, which is the host's and read-only here.
mount -t tmpfs tmpfs /var/lib/xkb 2>/dev/null
mountpoint -q /tmp || mount -t tmpfs tmpfs /tmp
# A slow guest is told from a stuck one by what runs.
while sleep 30; do
  echo "--- $(elapsed)s"
  ps -eo pid,etime,time,args | grep -v -E '\[|ps -eo'
done >"$R/ps.log" 2>&1 &

# The prefix lives in the guest's memory: made on 9p it takes several times longer. Most of it
# is copies of Wine's own DLLs; those become links to the originals (the same files, so Wine
# loads the same code), which keeps the copy in the build folder small and quick to unpack.
export QVB_WINEPREFIX=/run/wine32/prefix
archive=$B/guest-wine32-prefix.tar.gz
builtins=/usr/lib/i386-linux-gnu/wine/i386-windows
slim_prefix() {
  local system32=$QVB_WINEPREFIX/drive_c/windows/system32
  # wineboot copies them whole, so the size tells a copy without reading 500 MB under
  # emulation; one process for all of them, as each start costs here.
  LC_ALL=C join <(find "$system32" -maxdepth 1 -type f -printf '%f %s\n' | LC_ALL=C sort) \
    <(find "$builtins" -maxdepth 1 -type f -printf '%f %s\n' | LC_ALL=C sort) |
    awk -v dir="$builtins" '$2 == $3 { print dir "/" $1 }' >/run/wine32/copies
  xargs -r ln -sf -t "$system32" </run/wine32/copies
  say "$(wc -l </run/wine32/copies) of Wine's DLLs in the prefix linked to $builtins"
}

. "$QVB_RIG_SRC/cmake/wine-env.sh"
qvb_wine_select "$B/QVB886FWUpdate.exe" || finish 1
export WINEPREFIX=$QVB_WINEPREFIX WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=${QVB_RIG_WINEDEBUG:--all}
mkdir -p /run/wine32
if [ -f "$archive" ] && tar -C /run/wine32 -xzf "$archive"; then
  say "win32 prefix unpacked from $archive"
else
  rm -rf "$QVB_WINEPREFIX"
  say "making the win32 prefix (wineboot, a few minutes under emulation)"
fi
qvb_wine_prefix --gui || finish 1
if [ ! -f "$archive" ]; then
  "$WINESERVER" -w
  slim_prefix
  tar -C /run/wine32 -czf "$archive.part" prefix && mv "$archive.part" "$archive"
  say "win32 prefix kept in $archive ($(du -h "$archive" | cut -f1))"
fi
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
