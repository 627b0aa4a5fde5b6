#!/usr/bin/env bash
# bench.sh [seconds]: builds a release tree with the benchmarks (build-release/) and runs every
# one of them against the simulation servers in this process, transaction log off. Each figure
# is one line "bench <name>: <value> <unit>"; the full output of each program goes to
# build-release/bench-logs/. `seconds` is the length of each sustained run (default 5).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-5}

scripts/install-deps.sh
scripts/build.sh build-release -DCMAKE_BUILD_TYPE=Release -DNV_BUILD_BENCHMARKS=ON -DNV_BUILD_TESTS=OFF

logs=build-release/bench-logs
mkdir -p "$logs"
status=0
for program in build-release/bin/*_bench; do
  name=$(basename "$program")
  echo "== $name" >&2
  case "$name" in
    simulation_bench)
      # Google Benchmark: each case's items per second becomes one figure.
      if "$program" --benchmark_format=csv >"$logs/$name.csv" 2>"$logs/$name.err"; then
        awk -F, '/^"BM_/ { gsub(/"/, "", $1); gsub(/\//, "-", $1); sub(/^BM_/, "", $1);
                           printf "bench sim-%s: %.0f items/s\n", tolower($1), $7 }' "$logs/$name.csv"
      else
        echo "$name failed; see $logs/$name.err" >&2
        status=1
      fi
      ;;
    *)
      if ! "$program" "$seconds" >"$logs/$name.out" 2>"$logs/$name.err"; then
        echo "$name failed; see $logs/$name.err" >&2
        status=1
      fi
      grep '^bench ' "$logs/$name.out" || true
      ;;
  esac
done
exit $status
