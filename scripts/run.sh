#!/usr/bin/env bash
# Installs what is missing, builds, and starts the test client with the bundled simulation servers.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh
# Checked before the build, so that a machine without a display learns it before a long wait;
# the installation above has brought the virtual X server the message names.
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
  echo "run.sh: no display (DISPLAY and WAYLAND_DISPLAY are unset); run it under a virtual X server: xvfb-run -a scripts/run.sh" >&2
  exit 1
fi
scripts/build.sh build
exec build/bin/norvane-opc-client
