#!/usr/bin/env bash
# Installs the Debian packages the build needs, and any more named as
# arguments, when they are missing (apt-get, as root or through sudo).
set -euo pipefail

# libssl-dev: the network link's keys and pairing (Qt's TLS backend comes with
# libqt6network6). libqt6svg6 and qt6-qpa-plugins: what the window needs at run time (its icon,
# the platform plugins), as the package's Depends say.
PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-serialport-dev libsqlite3-dev sqlite3
          libgtest-dev libgmock-dev libbenchmark-dev python3 libzstd-dev zlib1g-dev libssl-dev
          libqt6svg6 qt6-qpa-plugins qt6-translations-l10n "$@")
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  # Another apt or dpkg (the automatic updates after boot) may hold the
  # locks: wait for it, bounded and saying so, rather than fail at once; apt
  # itself then waits out a lock taken again in between.
  "$(dirname "$0")/wait-apt-lock.sh"
  $SUDO apt-get -o DPkg::Lock::Timeout=300 update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=300 install -y -qq \
    --no-install-recommends "${missing[@]}"
fi
