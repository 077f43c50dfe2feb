#!/usr/bin/env bash
# A packager's build (-DKX_BUILD_TESTS=OFF) configures without Qt Test,
# GoogleTest or Google Benchmark and has no developers' tools (the screenshot
# tool, tests, benchmarks) among its targets, nor the tests' kill points
# (which the environment could switch on) in its programs.
#   packager_build_test.sh SOURCE_DIR
set -euo pipefail
src="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
if ! cmake -S "$src" -B "$work" -G Ninja -DKX_BUILD_TESTS=OFF \
     -DCMAKE_DISABLE_FIND_PACKAGE_Qt6Test=ON -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
     -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >"$work/configure.log" 2>&1; then
  echo "FAIL: the packager's build does not configure without Qt Test, GoogleTest and Google Benchmark"
  cat "$work/configure.log"
  exit 1
fi
targets=$(cmake --build "$work" --target help)
for wanted in kxloader kxterminal kxupdate_pc kxsync parlink; do
  grep -q "^$wanted:" <<<"$targets" || { echo "FAIL: no target $wanted"; exit 1; }
done
unwanted=$(grep -E '^(kx_screenshots|[a-z_]*_tests|kx_testsupport|[a-z_]*bench[a-z_]*):' <<<"$targets" || true)
[ -z "$unwanted" ] || { echo "FAIL: a packager's build has developers' targets:"; echo "$unwanted"; exit 1; }
grep -q '^KX_TEST_HOOKS:BOOL=OFF$' "$work/CMakeCache.txt" || { echo "FAIL: a packager's build has the tests' kill points"; exit 1; }
hooked=$(python3 -c 'import json,sys; print(any(e["file"].endswith("/platform/TestHooks.cpp") and "KX_TEST_HOOKS" in e.get("command", "") for e in json.load(open(sys.argv[1]))))' "$work/compile_commands.json")
[ "$hooked" = False ] || { echo "FAIL: a packager's build compiles platform/TestHooks.cpp with KX_TEST_HOOKS"; exit 1; }
# Its flags are the distribution's (dpkg-buildflags), also in a Release
# build, where CMake alone would add -O3.
cmake -S "$src" -B "$work" -DCMAKE_BUILD_TYPE=Release >>"$work/configure.log" 2>&1
commands=$(python3 -c 'import json,sys; print("\n".join(e["command"] for e in json.load(open(sys.argv[1]))))' "$work/compile_commands.json")
! grep -q -- ' -O3' <<<"$commands" || { echo "FAIL: a packager's Release build compiles with -O3"; exit 1; }
for flag in "$(dpkg-buildflags --get CXXFLAGS | grep -o -- '-ffile-prefix-map=[^ ]*' | sed "s|=.*|=$src=.|")" \
            -fstack-protector-strong -D_FORTIFY_SOURCE=2 -Werror=format-security; do
  grep -q -- "$flag" <<<"$commands" || { echo "FAIL: a packager's build lacks $flag of dpkg-buildflags"; exit 1; }
done
grep -q -- '-Wl,-z,now' "$work/build.ninja" || { echo "FAIL: a packager's build links without -z now"; exit 1; }
echo "the packager's build configures without the test libraries and builds only the product, without kill points"
echo "its flags are dpkg-buildflags' (no -O3 in Release)"
