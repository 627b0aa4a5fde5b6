#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12. Idempotent: quiet when all is there.
set -euo pipefail

packages=(build-essential cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev)
# The windows: Qt 6 Widgets and PrintSupport, and Qt's SVG renderer for the program's logo; a
# font, so that window tests measure real text; Xvfb for scripts/screenshots.sh.
packages+=(qt6-base-dev qt6-svg-dev fonts-dejavu-core xvfb xauth)
# The command-line tool: its argument parser and JSON output (both header-only).
packages+=(libcli11-dev nlohmann-json3-dev)
# The fuzz targets (scripts/fuzz.sh): Debian's clang and its libFuzzer and sanitizer runtimes.
packages+=(clang libclang-rt-14-dev)
# The package (scripts/package.sh): CPack's Debian generator runs dpkg-shlibdeps (dpkg-dev) and
# file; the manual page of norvane-opc is written by help2man and read back with groff; the
# desktop entry is checked with desktop-file-validate.
packages+=(dpkg-dev file help2man groff-base desktop-file-utils)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
