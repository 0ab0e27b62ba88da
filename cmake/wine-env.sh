# Sourced by the Wine runners: chooses Wine's loader and server for one Windows program from its
# PE header, never through Debian's /usr/bin/wine wrapper (which takes the 32-bit loader whenever
# wine32 is installed, also on hosts that cannot execute it).
#
#   qvb_wine_select PROGRAM    sets and exports WINEARCH, WINELOADER, WINESERVER; returns 1 with
#                              the reason on stderr when this host cannot run the program
#   "$WINELOADER" ARGS...      runs Wine (wineboot, regedit, the program)
#   "$WINESERVER" -k / -w      ends / waits for the prefix's server

QVB_WINE_DIR=${QVB_WINE_DIR:-/usr/lib/wine}

# Prints the PE machine field of a Windows executable as 4 hex digits (014c, 8664), or nothing.
qvb_pe_machine() {
  local pe
  pe=$(od -An -t u4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$pe" ] || return 1
  [ "$(od -An -c -j "$pe" -N 4 "$1" 2>/dev/null | tr -d ' ')" = 'PE\0\0' ] || return 1
  od -An -t x2 -j $((pe + 4)) -N 2 "$1" | tr -d ' '
}

qvb_wine_select() {
  local machine
  machine=$(qvb_pe_machine "$1") || { echo "wine: $1 is not a Windows executable" >&2; return 1; }
  case "$machine" in
    014c)
      local probe
      if ! probe=$("$(dirname "${BASH_SOURCE[0]}")/../scripts/host-runs-i386.sh"); then
        echo "wine: $1 is a 32-bit program and this host cannot execute 32-bit code ($probe);" \
             "its tests run in the USB rig's guest (scripts/run-windows-tests.sh mingw)" >&2
        return 1
      fi
      export WINEARCH=win32 WINELOADER=$QVB_WINE_DIR/wine WINESERVER=$QVB_WINE_DIR/wineserver32
      [ -x "$WINESERVER" ] || WINESERVER=$QVB_WINE_DIR/wineserver
      ;;
    8664)
      export WINEARCH=win64 WINELOADER=$QVB_WINE_DIR/wine64 WINESERVER=$QVB_WINE_DIR/wineserver64
      ;;
    *)
      echo "wine: $1 has the PE machine $machine, which no Wine here runs" >&2
      return 1
      ;;
  esac
  if [ ! -x "$WINELOADER" ]; then
    echo "wine: $WINELOADER is missing (scripts/install-deps.sh installs wine32:i386 and wine64)" >&2
    return 1
  fi
  if [ ! -x "$WINESERVER" ]; then
    echo "wine: $WINESERVER is missing (scripts/install-deps.sh)" >&2
    return 1
  fi
  return 0
}

# qvb_wine_prefix [--gui]: makes $WINEPREFIX on first use (wineboot, Wine's fonts linked in).
# --gui also gives it Wine's virtual desktop, so windows get frames without a window manager,
# and a CJK font for the line font's face. The caller holds the prefix's lock.
qvb_wine_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$WINELOADER" wineboot -i >/dev/null 2>&1
    "$WINESERVER" -w
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "wine: wineboot did not make the prefix $WINEPREFIX" >&2
      return 1
    fi
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    ln -sf /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  fi
  if [ "${1:-}" = --gui ] && [ ! -f "$WINEPREFIX/.qvb-gui-settings" ]; then
    local reg
    reg=$(mktemp "${TMPDIR:-/tmp}/qvb-gui.XXXXXX.reg")
    {
      printf '\xff\xfe'
      printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
        '[HKEY_CURRENT_USER\Software\Wine\Explorer]' '"Desktop"="Default"' '' \
        '[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]' '"Default"="800x600"' '' \
        '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
        '"微軟正黑體"="WenQuanYi Micro Hei"' '' | iconv -f UTF-8 -t UTF-16LE
    } >"$reg"
    "$WINELOADER" regedit /S "$reg" >/dev/null 2>&1
    "$WINESERVER" -w
    rm -f "$reg"
    touch "$WINEPREFIX/.qvb-gui-settings"
  fi
}
