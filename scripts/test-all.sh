#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test suite:
# Linux (g++), Linux with ASan + UBSan (clang), and the Windows build under Wine; then the
# static analysis (over the linux preset's build) and a bounded run of every fuzz harness.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
jobs="${QVB_JOBS:-2}"
for preset in linux linux-asan mingw; do
  echo "=== $preset ==="
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
echo "=== static analysis ==="
./scripts/static-analysis.sh
echo "=== fuzzing ==="
./scripts/fuzz.sh
echo "=== all presets passed ==="
