#!/usr/bin/env bash
# Runs a Windows test program under Wine: the CMAKE_CROSSCOMPILING_EMULATOR of the mingw builds.
#
# - The loader follows the program: 32-bit Wine for i686, wine64 for x86_64 (wine-env.sh).
# - One prefix per build folder (the nearest folder above the program that holds a
#   CMakeCache.txt), made on first use. QVB_WINEPREFIX names another one.
# - One program at a time per prefix, and the run's wineserver is ended afterwards, so nothing
#   outlives the test and parallel ctest runs do not share a server.
# - Without a DISPLAY, a private Xvfb is started for the run, so window tests work headless.
# - Output goes through a temporary file: wineserver keeps a pipe open for seconds after the
#   program ends.
set -u
prog="$1"
shift

build_dir() {
  local dir
  dir="$(cd "$(dirname "$1")" && pwd)"
  while [ "$dir" != "/" ]; do
    if [ -f "$dir/CMakeCache.txt" ]; then
      echo "$dir"
      return
    fi
    dir="$(dirname "$dir")"
  done
  cd "$(dirname "$1")" && pwd
}

. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
qvb_wine_select "$prog" || exit 1
export WINEPREFIX="${QVB_WINEPREFIX:-$(build_dir "$prog")/wineprefix}"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${WINEDEBUG:--all}"
mkdir -p "$(dirname "$WINEPREFIX")"

# QVB_WINE_SESSION=keep: the caller runs one test at a time in one Wine session that it owns
# (the USB rig's guest, where starting a session costs half a minute), so neither lock nor end it.
keep_session=""
[ "${QVB_WINE_SESSION:-}" = keep ] && keep_session=yes
if [ -z "$keep_session" ]; then
  exec 9>"$WINEPREFIX.lock"
  flock 9
fi
qvb_wine_prefix || exit 1

xvfb_pid=""
display_file=""
cleanup() {
  [ -n "$keep_session" ] || "$WINESERVER" -k >/dev/null 2>&1
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  [ -n "$display_file" ] && rm -f "$display_file"
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null; then
  display_file="$(mktemp)"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$display_file" ] && break
    sleep 0.05
  done
  if [ -s "$display_file" ]; then
    export DISPLAY=":$(tr -d '[:space:]' <"$display_file")"
  else
    echo "wine-run: Xvfb did not start; running without a display" >&2
  fi
fi

out="$(mktemp)"
"$WINELOADER" "$prog" "$@" >"$out" 2>&1
rc=$?
cat "$out"
rm -f "$out"
exit $rc
