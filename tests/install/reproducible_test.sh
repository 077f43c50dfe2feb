#!/usr/bin/env bash
# Two builds of one commit give the same package bytes: the product is built
# twice as a packager builds it (-DKX_BUILD_TESTS=OFF, the flags of
# dpkg-buildflags), in two folders of different names, and each is packed by
# `cpack -G DEB` with SOURCE_DATE_EPOCH set to the commit's date. The two
# .deb files must be identical; on a difference diffoscope (when installed)
# or the listings say where.
#   KX_TEST_REPRODUCIBLE=1 reproducible_test.sh SOURCE_DIR   exit 77: nothing to check here
# KX_REPRODUCIBLE_CMAKE_ARGS: more arguments for both configurations (e.g.
# -DKX_DISTRIBUTION_FLAGS=OFF to check the packing alone where the compiler
# cache holds the developers' objects).
# The two build folders lie in the source folder (build-reproducible-*,
# ignored by git), as the developers' own build folders do: the compiler
# cache then shares objects between them (paths relative to its base_dir).
# Two whole product builds take an hour on a small machine: the routine test
# run skips this check unless KX_TEST_REPRODUCIBLE=1 (release checklists and
# a packager's machine run it).
set -euo pipefail
src="$1"
[ "${KX_TEST_REPRODUCIBLE:-0}" = 1 ] || { echo "SKIP: set KX_TEST_REPRODUCIBLE=1 for two product builds"; exit 77; }
command -v dpkg-buildflags >/dev/null || { echo "SKIP: no dpkg-buildflags"; exit 77; }
work="$(mktemp -d)"
one_dir="$(mktemp -d "$src/build-reproducible-1.XXXXXX")"
two_dir="$(mktemp -d "$src/build-reproducible-2.XXXXXX")"
trap 'rm -rf "$work" "$one_dir" "$two_dir"' EXIT
declare -A dirs=([first]="$one_dir" [second-build]="$two_dir")
SOURCE_DATE_EPOCH=$(git -C "$src" log -1 --format=%ct 2>/dev/null || stat -c %Y "$src/CMakeLists.txt")
export SOURCE_DATE_EPOCH
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
for build in first second-build; do
  start=$(date +%s)
  # shellcheck disable=SC2086  # one word per argument
  dir="${dirs[$build]}"
  cmake -S "$src" -B "$dir" -G Ninja -DKX_BUILD_TESTS=OFF "${launcher[@]}" ${KX_REPRODUCIBLE_CMAKE_ARGS:-} \
    >"$work/$build.log" 2>&1 || { cat "$work/$build.log"; exit 1; }
  if [ -z "${KX_REPRODUCIBLE_CMAKE_ARGS:-}" ] && ! grep -q '^KX_DISTRIBUTION_FLAGS:BOOL=ON$' "$dir/CMakeCache.txt"; then
    echo "FAIL: a packager's build does not take the flags of dpkg-buildflags"; exit 1
  fi
  cmake --build "$dir" >>"$work/$build.log" 2>&1 || { tail -50 "$work/$build.log"; exit 1; }
  (cd "$dir" && cpack -G DEB -B "$work/$build-deb") >>"$work/$build.log" 2>&1 || { tail -50 "$work/$build.log"; exit 1; }
  echo "$build: built and packed in $(($(date +%s) - start)) s"
done
one=$(echo "$work"/first-deb/kxconfig_*.deb)
two=$(echo "$work"/second-build-deb/kxconfig_*.deb)
# A Release build in the same folder compiles with dpkg-buildflags' -O2, never -O3.
if grep -q -- '-O3' "$one_dir/build.ninja"; then echo "FAIL: the packager's build compiles with -O3"; exit 1; fi
if cmp -s "$one" "$two"; then
  echo "two builds of one commit give the same package: $(sha256sum <"$one" | cut -c1-16)"
  exit 0
fi
echo "FAIL: two builds of one commit give different packages"
if command -v diffoscope >/dev/null; then diffoscope "$one" "$two" | head -60
else
  diff <(dpkg-deb -c "$one") <(dpkg-deb -c "$two") | head -20
  for deb in "$one" "$two"; do mkdir -p "$work/x/$(basename "$(dirname "$deb")")"; dpkg-deb -x "$deb" "$work/x/$(basename "$(dirname "$deb")")"; done
  diff -rq "$work/x/first-deb" "$work/x/second-build-deb" | head -20
fi
exit 1
