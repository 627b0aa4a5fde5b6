#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: a plain build and its Debian
# package (scripts/package.sh), a build under AddressSanitizer + UndefinedBehaviorSanitizer, a
# build under ThreadSanitizer, the fuzz targets (30 s each), and the Windows build and its install
# folder under Wine. Any failure or sanitizer report fails the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh

jobs=$(nproc)

echo "== Build and test: plain"
scripts/build.sh build
ctest --test-dir build --output-on-failure --parallel "$jobs" --timeout 300

echo "== Debian package from the plain build, unpacked and run from a fresh folder"
scripts/package.sh build

echo "== Build and test: AddressSanitizer + UndefinedBehaviorSanitizer"
scripts/build.sh build-asan -DNV_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure --parallel "$jobs" --timeout 600

echo "== Build and test: ThreadSanitizer"
scripts/build.sh build-tsan -DNV_TSAN=ON -DCMAKE_BUILD_TYPE=Debug
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan --output-on-failure --parallel "$jobs" --timeout 600

echo "== Fuzz targets (libFuzzer, clang): 30 s each"
scripts/fuzz.sh 30

echo "== Build for Windows (MinGW-w64) and test under Wine"
scripts/test-windows.sh

echo "== Windows install folder under Wine"
scripts/test-windows-install.sh
