#!/bin/bash
# Sourced by the rig's guest scripts that run Windows programs: a home, a writable /tmp and
# xkb folder for Xvfb, and the win32 prefix in the guest's memory, unpacked from the archive in
# the 32-bit build folder or made there once and kept in it (that folder must be writable).
#
#   guest_wine_setup BUILD_DIR PROGRAM   selects Wine for PROGRAM, readies $WINEPREFIX
# Expects say() from the caller.

. "$QVB_RIG_SRC/cmake/wine-env.sh"

# Most of a fresh prefix is copies of Wine's own DLLs; those become links to the originals (the
# same files, so Wine loads the same code), which keeps the archive small and quick to unpack.
guest_slim_prefix() {
  # The guest's devtmpfs has no /dev/fd, which bash's <(...) needs.
  [ -e /dev/fd ] || ln -s /proc/self/fd /dev/fd
  local builtins=/usr/lib/i386-linux-gnu/wine/i386-windows
  local system32=$WINEPREFIX/drive_c/windows/system32
  # wineboot copies them whole, so the size tells a copy without reading 500 MB under
  # emulation; one process for all of them, as each start costs here.
  LC_ALL=C join <(find "$system32" -maxdepth 1 -type f -printf '%f %s\n' | LC_ALL=C sort) \
    <(find "$builtins" -maxdepth 1 -type f -printf '%f %s\n' | LC_ALL=C sort) |
    awk -v dir="$builtins" '$2 == $3 { print dir "/" $1 }' >/run/wine32/copies
  xargs -r ln -sf -t "$system32" </run/wine32/copies
  say "$(wc -l </run/wine32/copies) of Wine's DLLs in the prefix linked to $builtins"
}

guest_wine_setup() {
  local build=$1 program=$2
  export HOME=/run/home TMPDIR=/run/tmp XDG_RUNTIME_DIR=/run/user
  mkdir -p "$HOME" "$TMPDIR" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  # Xvfb compiles its keymap into /var/lib/xkb, which is the host's and read-only here.
  mountpoint -q /var/lib/xkb || mount -t tmpfs tmpfs /var/lib/xkb 2>/dev/null
  mountpoint -q /tmp || mount -t tmpfs tmpfs /tmp
  qvb_wine_select "$program" || return 1
  # The prefix lives in the guest's memory: made on 9p it takes several times longer.
  export QVB_WINEPREFIX=/run/wine32/prefix
  export WINEPREFIX=$QVB_WINEPREFIX WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=${QVB_RIG_WINEDEBUG:--all}
  local archive=$build/guest-wine32-prefix.tar.gz
  mkdir -p /run/wine32
  if [ -f "$archive" ] && tar -C /run/wine32 -xzf "$archive"; then
    say "win32 prefix unpacked from $archive"
  else
    rm -rf "$WINEPREFIX"
    say "making the win32 prefix (wineboot, a few minutes under emulation)"
  fi
  qvb_wine_prefix --gui || return 1
  if [ ! -f "$archive" ]; then
    "$WINESERVER" -w
    guest_slim_prefix
    tar -C /run/wine32 -czf "$archive.part" prefix && mv "$archive.part" "$archive"
    say "win32 prefix kept in $archive ($(du -h "$archive" | cut -f1))"
  fi
}
