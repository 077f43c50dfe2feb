#!/usr/bin/env bash
# Installs the Debian packages the build needs (only the missing ones), then
# configures and builds. Usage: scripts/setup.sh [build-dir] [extra cmake args...]
# KX_BUILD_TARGETS="a b" builds only those targets (scripts/run.sh: the demo's).
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-serialport-dev libsqlite3-dev sqlite3
          libgtest-dev libgmock-dev libbenchmark-dev python3 libzstd-dev zlib1g-dev)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

BUILD_DIR="${1:-build}"; shift || true
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
fi
# shellcheck disable=SC2086  # one word per target
cmake --build "$BUILD_DIR" -j "$(nproc)" ${KX_BUILD_TARGETS:+--target $KX_BUILD_TARGETS}
