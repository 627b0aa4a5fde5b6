#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite twice: a plain build and a
# build under AddressSanitizer + UndefinedBehaviorSanitizer. Any failure or sanitizer report
# fails the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh

jobs=$(nproc)

echo "== Build and test: plain"
scripts/build.sh build
ctest --test-dir build --output-on-failure --parallel "$jobs" --timeout 300

echo "== Build and test: AddressSanitizer + UndefinedBehaviorSanitizer"
scripts/build.sh build-asan -DNV_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure --parallel "$jobs" --timeout 600

echo "== Build for Windows (MinGW-w64) and test under Wine"
scripts/test-windows.sh
