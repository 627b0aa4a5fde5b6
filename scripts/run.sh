#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program with the bundled simulation servers.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh
scripts/build.sh build
exec build/bin/norvane-list-servers
