#!/usr/bin/env bash
# fuzz.sh [seconds] [target...]: builds the fuzz targets with clang (build-fuzz/) and runs each
# for `seconds` (default 30), starting from its seed corpus (fuzz/corpus/<target>/) and its kept
# regression inputs (fuzz/regressions/<target>/). Inputs that reach new code are collected in
# build-fuzz/corpus/<target>/, so a later run goes on from there. Any crash, sanitizer report,
# leak, time-out or broken round trip fails the run; the input that caused it is left in
# build-fuzz/findings/<target>/ and the fuzzer's output in build-fuzz/logs/<target>.log. Copy a
# finding into fuzz/regressions/<target>/ once its fault is fixed, so the test suite replays it.
# Run for hours by hand: scripts/fuzz.sh 3600.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=${1:-30}
shift || true

scripts/install-deps.sh

build=build-fuzz
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DNV_BUILD_FUZZERS=ON -DNV_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target nv_fuzzers --parallel "$(nproc)"

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

# A leak is a finding; so is an input that takes more than 10 s or 2 GB.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=()
for target in "${targets[@]}"; do
  program="$build/bin/fuzz_$target"
  if [ ! -x "$program" ]; then
    echo "fuzz $target: no such fuzz target" >&2
    failed+=("$target")
    continue
  fi
  work="$build/corpus/$target"
  findings="$build/findings/$target"
  log="$build/logs/$target.log"
  mkdir -p "$work" "$findings" "$(dirname "$log")"
  seeds=("fuzz/corpus/$target")
  [ -d "fuzz/regressions/$target" ] && seeds+=("fuzz/regressions/$target")
  if "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$findings/" "$work" "${seeds[@]}" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
    echo "fuzz $target: ${runs:-?} inputs, ${cov:-cov: ?}, no findings"
  else
    echo "fuzz $target: FINDING (see $log)" >&2
    grep -E 'ERROR|SUMMARY|fuzz check failed|Test unit written' "$log" | head -5 >&2 || true
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: ${#targets[@]} targets, ${seconds} s each, no findings"
