#!/usr/bin/env bash
# Runs a Windows test program under Wine in the build's own prefix. Output goes through a
# temporary file: wineserver keeps a pipe open for seconds after the program ends.
set -u
prog="$1"; shift
build_dir="${QVB_WINE_BUILD_DIR:-$(cd "$(dirname "$prog")" && pwd)}"
export WINEPREFIX="${WINEPREFIX:-$build_dir/wineprefix}"
export WINEARCH=win32
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${WINEDEBUG:--all}"
lock="$WINEPREFIX.lock"
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    ln -sf /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  fi
) 9>"$lock"
out=$(mktemp)
wine "$prog" "$@" >"$out" 2>&1
rc=$?
cat "$out"
rm -f "$out"
exit $rc
