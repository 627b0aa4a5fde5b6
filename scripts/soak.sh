#!/usr/bin/env bash
# soak.sh MINUTES: runs the client core against the simulation server for MINUTES with 10 000
# items at 10 ms, under AddressSanitizer + UndefinedBehaviorSanitizer (build-soak-asan/, a tree of
# its own, never shared with the test command's trees), and prints
#   soak: <minutes> min, rss growth <kB> kB, updates <n>, lost <n>, duplicated <n>
# Fails when a value was lost or reported twice, or a sanitizer reports anything (a leak too).
# Not part of the test command: it is meant to run for a long time by hand.
# NV_JOBS sets the build's parallel jobs (default: every core).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
minutes=${1:?usage: scripts/soak.sh MINUTES}

scripts/install-deps.sh
build=build-soak-asan
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNV_SANITIZE=ON \
  -DNV_BUILD_BENCHMARKS=ON -DNV_BUILD_TESTS=OFF >/dev/null
# Only the soak program and the simulation module it loads; the windows are not needed.
cmake --build "$build" --target group_soak norvane-opcsim --parallel "${NV_JOBS:-$(nproc)}"

# The run must be the instrumented one: refuse a program without the AddressSanitizer runtime.
symbols=$(nm "$build/bin/group_soak" 2>/dev/null || true)
if [[ "$symbols" != *__asan_init* ]]; then
  echo "soak: $build/bin/group_soak is not built with AddressSanitizer" >&2
  exit 1
fi
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$build/bin/group_soak" "$minutes"
