#!/usr/bin/env bash
# Builds the program and runs its main job on the shipped defaults.
# With a display the main window opens; without one a command-line round is run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
BIN="$PWD/build/bin"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "${1:-}" != "--cli" ]; then
  exec "$BIN/kxloader"
fi

echo "== kxloader command-line round (no display) =="
"$BIN/kxloader" /x "$BIN/errors.txt" && code=0 || code=$?
echo "kxloader /x errors.txt -> exit code $code"
[ -f "$BIN/errors.txt" ] && iconv -f WINDOWS-1251 -t UTF-8 "$BIN/errors.txt" || true
