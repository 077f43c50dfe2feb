#!/usr/bin/env bash
# Builds and runs every test; on a fresh machine first installs what is missing.
#   scripts/test.sh             normal build in build/, then every fuzz target
#                               for a few seconds over its seed corpus (a second,
#                               clang-built tree in build-fuzz/, scripts/fuzz.sh --ci)
#   scripts/test.sh --sanitize  AddressSanitizer + UBSan build in build-asan/
# Stages, each with the time and the disk it took:
#   packages  only when something is missing, and saying what first
#             (scripts/install-packages.sh; KX_NO_INSTALL=1 forbids it)
#   build     scripts/setup.sh
#   tests     ctest
#   fuzz      scripts/fuzz.sh --ci (KX_SKIP_FUZZ=1 leaves it out)
set -euo pipefail
cd "$(dirname "$0")/.."

# Runs "$@" as the stage $1 and prints how long it took and how much disk
# (the file system of the source tree) it used.
stage() {
  local name="$1"; shift
  local start used_before used_after
  start=$(date +%s)
  used_before=$(df -Pk . | awk 'NR == 2 { print $3 }')
  echo "== $name: $*"
  "$@"
  used_after=$(df -Pk . | awk 'NR == 2 { print $3 }')
  printf '== %s took %d s and %+d MB of disk\n' "$name" "$(($(date +%s) - start))" \
         "$(((used_after - used_before) / 1024))"
}

# lintian: the package test checks the built .deb with it; man-db: its
# manual-page check.
extra=(lintian man-db)
# The fuzz run's clang tree (scripts/fuzz.sh names the same).
fuzz=0
if [ "${1:-}" != "--sanitize" ] && [ "${KX_SKIP_FUZZ:-0}" != 1 ]; then
  fuzz=1
  extra+=(clang libclang-rt-dev llvm)
fi
if missing=$(scripts/install-packages.sh --check "${extra[@]}"); then
  echo "== packages: everything needed is installed"
else
  echo "== packages missing: $(echo $missing)"
  stage packages scripts/install-packages.sh "${extra[@]}"
fi
if [ "${1:-}" = "--sanitize" ]; then
  shift
  stage build env KX_NO_INSTALL=1 scripts/setup.sh build-asan -DKX_SANITIZE=ON -DKX_BUILD_BENCH=OFF
  export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  BUILD_DIR=build-asan
else
  stage build env KX_NO_INSTALL=1 scripts/setup.sh build
  BUILD_DIR=build
fi
# The tests start with no display: the command-line mode must not need one.
unset DISPLAY WAYLAND_DISPLAY || true
stage tests bash -c 'cd "$1" && shift && ctest --output-on-failure -j "$(nproc)" --timeout 300 "$@"' \
      ctest "$BUILD_DIR" "$@"
# A crash or a failed property of any parser of outside data fails the run too.
if ((fuzz)); then
  stage fuzz env KX_NO_INSTALL=1 scripts/fuzz.sh --ci
fi
