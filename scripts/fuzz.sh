#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, ASan + UBSan) in their own build folder and runs each
# for a bounded time, starting from the committed corpus and regression inputs. New inputs go
# to the build folder; a crash leaves its input there too, and the script fails.
#
#   QVB_FUZZ_TIME     seconds per harness (default 60)
#   QVB_FUZZ_BUILD    build folder (default build/fuzz)
#   QVB_FUZZ_PARALLEL harnesses run at once (default 2)
#   QVB_FUZZ_CMAKE_ARGS further configure arguments
#   QVB_FUZZ_MERGE=1  afterwards merge what was found into fuzz/corpus/ (a developer's step;
#                     commit the result only when it stays small)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${QVB_FUZZ_TIME:-60}"
build="${QVB_FUZZ_BUILD:-build/fuzz}"
parallel="${QVB_FUZZ_PARALLEL:-2}"
jobs="${QVB_JOBS:-2}"
harnesses=(identify refresh update sysfs)

mkdir -p "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DQVB_SANITIZE=ON -DQVB_FUZZ=ON ${QVB_FUZZ_CMAKE_ARGS:-} >"$build/configure.log" 2>&1 ||
  { cat "$build/configure.log"; exit 1; }
if ! grep -q 'fuzz_identify' "$build/build.ninja"; then
  echo "fuzz.sh: the fuzz programs are not in the build: the top-level CMakeLists.txt must" \
    "add_subdirectory(fuzz)" >&2
  exit 1
fi
targets=()
for h in "${harnesses[@]}"; do targets+=(--target "fuzz_$h"); done
cmake --build "$build" -j "$jobs" "${targets[@]}"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

run_one() {
  local h="$1"
  local work="$build/fuzz-work/$h"
  mkdir -p "$work/corpus" "$work/artifacts"
  # The fuzzer writes into its corpus folder: it gets copies of the committed inputs, so the
  # repository's folders are only ever read.
  cp -f "fuzz/corpus/$h"/* "$work/corpus/"
  if [ -d "fuzz/regressions/$h" ]; then cp -f "fuzz/regressions/$h"/* "$work/corpus/"; fi
  "$build/fuzz/fuzz_$h" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log" 2>&1
}

failed=0
pids=()
names=()
for h in "${harnesses[@]}"; do
  run_one "$h" &
  pids+=($!)
  names+=("$h")
  if [ "${#pids[@]}" -ge "$parallel" ]; then
    for i in "${!pids[@]}"; do
      if ! wait "${pids[$i]}"; then failed=1; echo "fuzz_${names[$i]}: FAILED"; fi
    done
    pids=()
    names=()
  fi
done
for i in "${!pids[@]}"; do
  if ! wait "${pids[$i]}"; then failed=1; echo "fuzz_${names[$i]}: FAILED"; fi
done

for h in "${harnesses[@]}"; do
  log="$build/fuzz-work/$h/log"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 || true)
  crashes=$(find "$build/fuzz-work/$h/artifacts" -type f | wc -l)
  echo "fuzz_$h: ${runs:-?} executions in ${seconds}s, ${cov:-cov: ?}, $crashes crash inputs"
  if [ "$crashes" -ne 0 ] || ! grep -q '^stat::number_of_executed_units' "$log"; then
    failed=1
    tail -40 "$log"
  fi
done

if [ "${QVB_FUZZ_MERGE:-0}" = 1 ] && [ "$failed" = 0 ]; then
  for h in "${harnesses[@]}"; do
    "$build/fuzz/fuzz_$h" -merge=1 -max_len=4096 "fuzz/corpus/$h" "$build/fuzz-work/$h/corpus" \
      >"$build/fuzz-work/$h/merge.log" 2>&1
  done
fi

if [ "$failed" != 0 ]; then
  echo "fuzzing found a fault: the inputs are in $build/fuzz-work/*/artifacts" >&2
  exit 1
fi
echo "=== fuzzing clean ==="
