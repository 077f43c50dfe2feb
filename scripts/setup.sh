#!/usr/bin/env bash
# Installs the Debian packages the build needs (only the missing ones), then
# configures and builds. Usage: scripts/setup.sh [build-dir] [extra cmake args...]
# KX_BUILD_TARGETS="a b" builds only those targets (scripts/run.sh: the demo's).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-packages.sh

BUILD_DIR="${1:-build}"; shift || true
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
fi
# shellcheck disable=SC2086  # one word per target
cmake --build "$BUILD_DIR" -j "$(nproc)" ${KX_BUILD_TARGETS:+--target $KX_BUILD_TARGETS}
