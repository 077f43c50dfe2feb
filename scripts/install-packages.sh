#!/usr/bin/env bash
# The one step that installs Debian packages: the ones the build and the tests
# need, and any more named as arguments, when they are missing (apt-get, as
# root or through sudo). Says what it installs before it does.
#   scripts/install-packages.sh [PACKAGE...]          install what is missing
#   scripts/install-packages.sh --check [PACKAGE...]  print what is missing (one
#                                                     a line); exit 1 when any is
# KX_NO_INSTALL=1 forbids installing: what is missing is named, with the
# command that would install it, and the script fails.
set -euo pipefail

check=0
if [ "${1:-}" = --check ]; then check=1; shift; fi
# libssl-dev: the network link's keys and pairing (Qt's TLS backend comes with
# libqt6network6). libqt6svg6 and qt6-qpa-plugins: what the window needs at run time (its icon,
# the platform plugins), as the package's Depends say. dpkg-dev: dpkg-buildflags
# gives the compiler flags; lintian, man-db: the package test.
PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-serialport-dev libsqlite3-dev sqlite3
          libgtest-dev libgmock-dev libbenchmark-dev python3 libzstd-dev zlib1g-dev libssl-dev
          libqt6svg6 qt6-qpa-plugins qt6-translations-l10n dpkg-dev "$@")
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((check)); then
  ((${#missing[@]} == 0)) || { printf '%s\n' "${missing[@]}"; exit 1; }
  exit 0
fi
((${#missing[@]})) || exit 0
if [ "${KX_NO_INSTALL:-0}" = 1 ]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "KX_NO_INSTALL=1 forbids installing them; install them with: scripts/install-packages.sh ${missing[*]}" >&2
  exit 1
fi
echo "Installing the missing packages: ${missing[*]} (apt-get; KX_NO_INSTALL=1 forbids it)"
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
# Another apt or dpkg (the automatic updates after boot) may hold the
# locks: wait for it, bounded and saying so, rather than fail at once; apt
# itself then waits out a lock taken again in between.
"$(dirname "$0")/wait-apt-lock.sh"
$SUDO apt-get -o DPkg::Lock::Timeout=300 update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=300 install -y -qq \
  --no-install-recommends "${missing[@]}"
