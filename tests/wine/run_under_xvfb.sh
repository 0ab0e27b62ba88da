#!/usr/bin/env bash
# Runs one Windows test program under Wine on a private Xvfb display, in a prefix of its own
# that has Wine's virtual desktop (so windows get their frames) and a font for the line font.
#
#   run_under_xvfb.sh --prefix DIR --shots DIR [--path NAME=/path]... -- program.exe [args...]
#
# --path exports NAME with the path in Windows form (Z:\...), for the program to read.
# Pictures: the program writes SHOTS/NAME.request; this script answers with SHOTS/NAME.png, a
# picture of the whole screen, and removes the request.
set -u

prefix_dir=
shots=
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) prefix_dir=$2; shift 2 ;;
    --shots) shots=$2; shift 2 ;;
    --path)
      name=${2%%=*}; path=${2#*=}
      export "$name=Z:${path//\//\\}"
      shift 2 ;;
    --) shift; break ;;
    *) echo "run_under_xvfb.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
if [ -z "$prefix_dir" ] || [ -z "$shots" ] || [ $# -lt 1 ]; then
  echo "usage: run_under_xvfb.sh --prefix DIR --shots DIR [--path NAME=PATH]... -- program [args]" >&2
  exit 2
fi

export WINEPREFIX="$prefix_dir/wineprefix"
export WINEARCH=win32
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${WINEDEBUG:--all}"
mkdir -p "$prefix_dir" "$shots"
scratch=$(mktemp -d)

# One GUI run at a time in this prefix: the run ends by stopping the prefix's wineserver.
exec 8>"$WINEPREFIX.gui.lock"
flock 8

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
  wineserver -w
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  ln -sf /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
fi
if [ ! -f "$WINEPREFIX/.qvb-gui-settings" ]; then
  # Virtual desktop: title bars and frames are drawn without a window manager.
  # The line font's face resolves to a CJK font instead of a Latin fallback.
  {
    printf '\xff\xfe'
    printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
      '[HKEY_CURRENT_USER\Software\Wine\Explorer]' '"Desktop"="Default"' '' \
      '[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]' '"Default"="800x600"' '' \
      '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
      '"微軟正黑體"="WenQuanYi Micro Hei"' '' | iconv -f UTF-8 -t UTF-16LE
  } >"$scratch/gui.reg"
  wine regedit /S "$scratch/gui.reg" >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.qvb-gui-settings"
fi

# A display of our own; Xvfb picks a free number and tells it through the pipe.
Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$scratch/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
  [ -s "$scratch/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.05
done
if [ ! -s "$scratch/display" ]; then
  echo "run_under_xvfb.sh: Xvfb did not start" >&2
  kill "$xvfb_pid" 2>/dev/null
  rm -rf "$scratch"
  exit 1
fi
export DISPLAY=":$(head -n1 "$scratch/display")"

# Pictures on request.
(
  while :; do
    for request in "$shots"/*.request; do
      [ -e "$request" ] || continue
      picture=${request%.request}.png
      import -window root "png:$picture.part" >/dev/null 2>&1 && mv -f "$picture.part" "$picture"
      rm -f "$request"
    done
    sleep 0.05
  done
) >/dev/null 2>&1 &
watcher_pid=$!

# Output through a file: wineserver would hold a pipe open for seconds after the program ends.
wine "$@" >"$scratch/output" 2>&1
rc=$?

wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
kill "$watcher_pid" 2>/dev/null
kill "$xvfb_pid" 2>/dev/null
wait "$watcher_pid" "$xvfb_pid" 2>/dev/null
cat "$scratch/output"
rm -rf "$scratch"
exit $rc
