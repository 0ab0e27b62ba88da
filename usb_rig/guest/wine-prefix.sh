#!/bin/bash
# Sourced by the rig's guest scripts that run Windows programs (and by rig.sh on the host, which
# makes the win64 prefix there): a home, a writable /tmp and xkb folder for Xvfb, and a Wine
# prefix in the guest's memory, unpacked from an archive in the Windows build folder. The win32
# prefix is made in the guest once and kept in the 32-bit build folder (which must then be
# writable); the win64 prefix is made on the host, where wine64 runs natively in seconds.
#
#   guest_wine_setup BUILD_DIR PROGRAM   selects Wine for PROGRAM, readies $WINEPREFIX
#   wine_keep_prefix ARCHIVE             slims the made $WINEPREFIX and archives it
# Expects say() from the caller.

. "$(dirname "${BASH_SOURCE[0]}")/../../cmake/wine-env.sh"

# wine_link_copies DIR BUILTINS: links every file of DIR that is a copy of one in BUILTINS (same
# name and size: wineboot copies them whole, so the size tells a copy without reading 500 MB
# under emulation) to that original; prints how many. One process for all, as each start costs.
wine_link_copies() {
  local dir=$1 builtins=$2 tmp n
  [ -d "$dir" ] && [ -d "$builtins" ] || { echo 0; return; }
  tmp=$(mktemp -d "${TMPDIR:-/tmp}/qvb-slim.XXXXXX") || return 1
  find "$dir" -maxdepth 1 -type f -printf '%f %s\n' | LC_ALL=C sort >"$tmp/prefix"
  find "$builtins" -maxdepth 1 -type f -printf '%f %s\n' | LC_ALL=C sort >"$tmp/builtins"
  LC_ALL=C join "$tmp/prefix" "$tmp/builtins" |
    awk -v dir="$builtins" '$2 == $3 { print dir "/" $1 }' >"$tmp/copies"
  xargs -r ln -sf -t "$dir" <"$tmp/copies"
  n=$(wc -l <"$tmp/copies")
  rm -rf "$tmp"
  echo "$n"
}

# Most of a fresh prefix is copies of Wine's own DLLs; those become links to the originals (the
# same files, so Wine loads the same code), which keeps the archive small and quick to unpack.
wine_slim_prefix() {
  local windows=$WINEPREFIX/drive_c/windows pe32=/usr/lib/i386-linux-gnu/wine/i386-windows
  local pe64=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
  local dir n=0
  # The side-by-side assemblies hold copies too, one folder each.
  for dir in "$windows"/winsxs/x86_*/; do
    n=$((n + $(wine_link_copies "$dir" "$pe32")))
  done
  if [ "$WINEARCH" = win64 ]; then
    for dir in "$windows"/winsxs/amd64_*/; do
      n=$((n + $(wine_link_copies "$dir" "$pe64")))
    done
    say "$(wine_link_copies "$windows/system32" "$pe64") of Wine's DLLs in system32 linked to $pe64"
    say "$(wine_link_copies "$windows/syswow64" "$pe32") of Wine's DLLs in syswow64 linked to $pe32"
  else
    say "$(wine_link_copies "$windows/system32" "$pe32") of Wine's DLLs in the prefix linked to $pe32"
  fi
  say "$n of Wine's DLLs in winsxs linked to the originals"
}

# wine_keep_prefix ARCHIVE: the made $WINEPREFIX, slimmed, as ARCHIVE (its folder at the top).
# Owned by root inside, which the guest runs as: Wine refuses a prefix its user does not own.
wine_keep_prefix() {
  local archive=$1
  "$WINESERVER" -w
  wine_slim_prefix
  tar -C "$(dirname "$WINEPREFIX")" --owner=0 --group=0 -czf "$archive.part" "$(basename "$WINEPREFIX")" &&
    mv "$archive.part" "$archive" || return 1
  say "$WINEARCH prefix kept in $archive ($(du -h "$archive" | cut -f1))"
}

# guest_wine_setup BUILD_DIR PROGRAM: Wine for PROGRAM's architecture, its prefix at
# /run/$WINEARCH/prefix (in the guest's memory: made on 9p it takes several times longer),
# unpacked from BUILD_DIR/guest-wine32-prefix.tar.gz (or -wine64-). Without that archive a win32
# prefix is made here and kept there; a win64 one is the host's to make, so its absence fails.
guest_wine_setup() {
  local build=$1 program=$2
  export HOME=/run/home TMPDIR=/run/tmp XDG_RUNTIME_DIR=/run/user
  mkdir -p "$HOME" "$TMPDIR" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  # Xvfb compiles its keymap into /var/lib/xkb, which is the host's and read-only here.
  mountpoint -q /var/lib/xkb || mount -t tmpfs tmpfs /var/lib/xkb 2>/dev/null
  # Wine's server and Xvfb need a writable /tmp: the guest's init gives it one, with whatever of
  # the rig's trees lives under the host's /tmp put back on top; a fresh one here would hide them.
  mountpoint -q /tmp || { say "the guest has no writable /tmp of its own (usb_rig/guest/init)"; return 1; }
  qvb_wine_select "$program" || return 1
  local home=/run/$WINEARCH
  export QVB_WINEPREFIX=$home/prefix
  export WINEPREFIX=$QVB_WINEPREFIX WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=${QVB_RIG_WINEDEBUG:--all}
  local archive=$build/guest-wine${WINEARCH#win}-prefix.tar.gz
  mkdir -p "$home"
  if [ -f "$archive" ] && tar -C "$home" -xzf "$archive"; then
    say "$WINEARCH prefix unpacked from $archive"
  elif [ "$WINEARCH" = win64 ]; then
    say "no usable win64 prefix archive $archive (rig.sh makes it on the host before the boot)"
    return 1
  else
    rm -rf "$WINEPREFIX"
    say "making the win32 prefix (wineboot, a few minutes under emulation)"
  fi
  qvb_wine_prefix --gui || return 1
  [ -f "$archive" ] || wine_keep_prefix "$archive"
}
