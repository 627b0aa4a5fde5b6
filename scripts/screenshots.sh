#!/usr/bin/env bash
# screenshots.sh [build-dir]: builds the window-picture program, starts every window of the test
# client under a real X server (Xvfb) against the simulation servers, and saves a PNG of each in
# <build-dir>/screenshots/ (build/ by default): once at the normal size and once at 1.5 times
# screen scaling, whose pictures end in "-150".
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${1:-$root/build}

scripts/install-deps.sh

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target nv_window_shots

out=$build/screenshots
rm -rf "$out"
mkdir -p "$out"
# A configuration folder of its own: the user's registry files and hosts stay out of the pictures.
config=$(mktemp -d "${TMPDIR:-/tmp}/norvane-shots.XXXXXX")
trap 'rm -rf "$config"' EXIT

shoot() {
  XDG_CONFIG_HOME=$config QT_QPA_PLATFORM=xcb "$@" \
    xvfb-run -a -s "-screen 0 1600x1200x24" "$build/bin/nv_window_shots" "$out"
}
shoot env
shoot env QT_SCALE_FACTOR=1.5 NV_SHOT_SUFFIX=-150
rm -f "$out/items.csv"
echo "Pictures in $out"
