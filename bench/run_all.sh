#!/usr/bin/env bash
# Builds and runs every benchmark; prints their figures. Usage: bench/run_all.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
scripts/setup.sh "$BUILD"
B="$BUILD/bench-bin"
echo "== database copy (save of a configuration) =="; "$B/bench_copy_tables"
echo; echo "== configuration model =="; "$B/bench_config_model"
echo; echo "== configurator window =="; "$B/bench_configurator_window"
echo; echo "== reference directories =="; bench/directories/run_bench.py "$BUILD"
echo; echo "== terminal link =="; "$B/link_bench"
echo; echo "== windows (main window, directory editor on a large wares file) =="; bench/main_window/run_bench.py "$BUILD"
