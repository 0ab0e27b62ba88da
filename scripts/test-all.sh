#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test suite: Linux (g++), Linux
# with ASan + UBSan (clang), the Windows builds (the shipped 32-bit one and its x86_64 sibling,
# each where this host can run it: scripts/run-windows-tests.sh); then the static analysis
# (over the linux preset's build) and a bounded run of every fuzz harness. Ends with where each
# part ran and how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs="${QVB_JOBS:-2}"
export QVB_JOBS=$jobs
timings=()
# step NAME COMMAND...: runs it and keeps its time for the summary.
step() {
  local name=$1 start=$SECONDS rc=0
  shift
  echo "=== $name ==="
  "$@" || rc=$?
  timings+=("$(printf '%-28s %5ds%s' "$name" $((SECONDS - start)) "$([ $rc -eq 0 ] || echo "  FAILED ($rc)")")")
  return $rc
}
build() {
  cmake --preset "$1"
  cmake --build --preset "$1" -j "$jobs"
}
# The times are printed however the run ends, the failed step's included.
where=build/windows-tests.txt
rm -f "$where"
summary() {
  echo "=== summary ==="
  [ ${#timings[@]} -eq 0 ] || printf '%s\n' "${timings[@]}"
  [ -f "$where" ] && sed -n '/^=== where the Windows tests ran ===$/,$p' "$where"
  return 0
}
trap summary EXIT

step "install" ./scripts/install-deps.sh
echo "host: $(uname -m), executes 32-bit x86 programs: $(./scripts/host-runs-i386.sh || true)"
for preset in linux linux-asan mingw mingw64; do
  step "build $preset" build "$preset"
done
for preset in linux linux-asan; do
  step "test $preset" ctest --preset "$preset" -j "$jobs"
done
windows_tests() {
  ./scripts/run-windows-tests.sh all | tee "$where"
  return "${PIPESTATUS[0]}"
}
windows_rc=0
step "test windows" windows_tests || windows_rc=$?
step "static analysis" ./scripts/static-analysis.sh
step "fuzzing" ./scripts/fuzz.sh

if [ "$windows_rc" -ne 0 ]; then
  echo "=== the Windows tests FAILED (see 'where the Windows tests ran' above) ==="
  exit 1
fi
echo "=== all presets passed ==="
