#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang, AddressSanitizer and UBSan
# in build-fuzz/ (installing what is missing) and runs them.
#
#   scripts/fuzz.sh                      every target for 60 s
#   scripts/fuzz.sh --time 600 link_frames profile_file
#                                        the named targets, 600 s each
#   scripts/fuzz.sh --ci                 every target for a few seconds over its
#                                        seed corpus (CI; keeps only crashes)
#   scripts/fuzz.sh --build              only build
#
# What a run finds is kept in fuzz-findings/<target>/ (not in git):
# corpus/ the new inputs that reached new code (read again by the next run),
# crashes/ every input that crashed or broke a property. A crash or a failed
# property makes the script fail; the table at the end gives each target's
# executions per second.
set -euo pipefail
cd "$(dirname "$0")/.."

TIME=60
CI_TIME=4
MODE=run
TARGETS=()
while (($#)); do
  case "$1" in
    --time) TIME="$2"; shift 2 ;;
    --ci) MODE=ci; shift ;;
    --build) MODE=build; shift ;;
    -h|--help) sed -n '2,17p' "$0"; exit 0 ;;
    *) TARGETS+=("$1"); shift ;;
  esac
done

scripts/install-packages.sh clang libclang-rt-dev llvm

BUILD_DIR=build-fuzz
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
        -DKX_FUZZ=ON -DKX_BUILD_TESTS=OFF -DKX_BUILD_BENCH=OFF "${launcher[@]}"
fi
cmake --build "$BUILD_DIR" -j "$(nproc)" --target fuzz_all
[ "$MODE" = build ] && exit 0

if ((${#TARGETS[@]} == 0)); then
  for exe in "$BUILD_DIR"/fuzz-bin/fuzz_*; do TARGETS+=("$(basename "$exe" | sed 's/^fuzz_//')"); done
fi

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:symbolize=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY || true

SCRATCH="$(mktemp -d)"
trap 'rm -rf "$SCRATCH"' EXIT
failed=()
summary=()
for t in "${TARGETS[@]}"; do
  exe="$BUILD_DIR/fuzz-bin/fuzz_$t"
  [ -x "$exe" ] || { echo "no such fuzz target: $t"; exit 2; }
  seeds="fuzz/corpus/$t"
  mkdir -p "$seeds"
  args=(-timeout=20 -rss_limit_mb=2048 -print_final_stats=1)
  [ -f "fuzz/dict/$t.dict" ] && args+=("-dict=fuzz/dict/$t.dict")
  found="fuzz-findings/$t"
  mkdir -p "$found/corpus" "$found/crashes"
  if [ "$MODE" = ci ]; then
    # The inputs a CI run adds go to a scratch folder (the next run starts
    # from the seeds again); a crash is kept like any other, and the log shows
    # its input in Base64.
    mkdir -p "$SCRATCH/$t/corpus"
    args+=(-max_total_time="$CI_TIME" -artifact_prefix="$found/crashes/" "$SCRATCH/$t/corpus" "$seeds")
  else
    args+=(-max_total_time="$TIME" -artifact_prefix="$found/crashes/" "$found/corpus" "$seeds")
  fi
  echo "== $t"
  log="$SCRATCH/$t.log"
  set +e
  "$exe" "${args[@]}" >"$log" 2>&1
  code=$?
  set -e
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)"
  if [ "$code" -ne 0 ]; then
    failed+=("$t")
    # The report of the crash or the failed property, and where its input is.
    grep -v '^#[0-9]' "$log" | tail -60
  else
    tail -3 "$log"
  fi
  summary+=("$(printf '%-22s %12s %10s   %s' "$t" "${execs:-?}" "${rate:-?}" "$([ "$code" -eq 0 ] && echo ok || echo FAILED)")")
done

echo
printf '%-22s %12s %10s   %s\n' target executions "exec/s" result
printf '%s\n' "${summary[@]}"
if ((${#failed[@]})); then
  echo "Failed: ${failed[*]}"
  echo "Inputs are in fuzz-findings/<target>/crashes/; replay one with $BUILD_DIR/fuzz-bin/fuzz_<target> <file>"
  exit 1
fi
