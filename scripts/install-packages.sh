#!/usr/bin/env bash
# Installs the Debian packages the build needs, and any more named as
# arguments, when they are missing (apt-get, as root or through sudo).
set -euo pipefail

PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-serialport-dev libsqlite3-dev sqlite3
          libgtest-dev libgmock-dev libbenchmark-dev python3 libzstd-dev zlib1g-dev
          qt6-translations-l10n "$@")
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
