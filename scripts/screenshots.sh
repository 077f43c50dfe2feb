#!/usr/bin/env bash
# Writes the pictures of the windows for the user guide into docs/images/,
# drawn on the offscreen platform from a copy of the demo project.
#   scripts/screenshots.sh [picture-name ...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build >/dev/null
cmake --build build --target kx_screenshots
QT_QPA_PLATFORM=offscreen build/tools-bin/kx_screenshots docs/images "$@"
