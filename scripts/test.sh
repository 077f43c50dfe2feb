#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
#   scripts/test.sh             normal build in build/, then every fuzz target
#                               for a few seconds over its seed corpus (clang
#                               tree in build-fuzz/, scripts/fuzz.sh --ci)
#   scripts/test.sh --sanitize  AddressSanitizer + UBSan build in build-asan/
# KX_SKIP_FUZZ=1 leaves the fuzz targets out.
set -euo pipefail
cd "$(dirname "$0")/.."
# lintian: the package test checks the built .deb with it.
scripts/install-packages.sh lintian
if [ "${1:-}" = "--sanitize" ]; then
  shift
  scripts/setup.sh build-asan -DKX_SANITIZE=ON -DKX_BUILD_BENCH=OFF
  export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  BUILD_DIR=build-asan
else
  scripts/setup.sh build
  BUILD_DIR=build
fi
# The tests start with no display: the command-line mode must not need one.
unset DISPLAY WAYLAND_DISPLAY || true
(cd "$BUILD_DIR" && ctest --output-on-failure -j "$(nproc)" --timeout 300 "$@")
# A crash or a failed property of any parser of outside data fails the run too.
if [ "$BUILD_DIR" = build ] && [ "${KX_SKIP_FUZZ:-0}" != 1 ]; then
  scripts/fuzz.sh --ci
fi
