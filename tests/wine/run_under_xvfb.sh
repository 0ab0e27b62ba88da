#!/usr/bin/env bash
# Runs one Windows test program under Wine on a private Xvfb display, in a prefix of its own
# (DIR/wineprefix, or QVB_WINEPREFIX) that has Wine's virtual desktop (so windows get their
# frames) and a font for the line font.
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

. "$(dirname "${BASH_SOURCE[0]}")/../../cmake/wine-env.sh"
qvb_wine_select "$1" || exit 1
export WINEPREFIX="${QVB_WINEPREFIX:-$prefix_dir/wineprefix}"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${WINEDEBUG:--all}"
mkdir -p "$prefix_dir" "$shots" "$(dirname "$WINEPREFIX")"
scratch=$(mktemp -d)

# One run at a time in this prefix: the run ends by stopping the prefix's wineserver. The lock
# is the one cmake/wine-run.sh takes, for when QVB_WINEPREFIX gives both the same prefix.
exec 8>"$WINEPREFIX.lock"
flock 8
qvb_wine_prefix --gui || exit 1
# A session left running (QVB_WINE_SESSION=keep) draws on another display: start a fresh one.
"$WINESERVER" -k >/dev/null 2>&1
"$WINESERVER" -w >/dev/null 2>&1

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
"$WINELOADER" "$@" >"$scratch/output" 2>&1
rc=$?

"$WINESERVER" -k >/dev/null 2>&1
"$WINESERVER" -w >/dev/null 2>&1
kill "$watcher_pid" 2>/dev/null
kill "$xvfb_pid" 2>/dev/null
wait "$watcher_pid" "$xvfb_pid" 2>/dev/null
cat "$scratch/output"
rm -rf "$scratch"
exit $rc
