#!/usr/bin/env bash
# Builds the program and runs its main job on the shipped defaults: the
# template, a copy of the demo project (build/bin/demo/demo.kxc) and an emulated terminal.
#   scripts/run.sh          with a display: the main window on the demo project
#                           without one: a printed command-line round
#   scripts/run.sh --cli    the command-line round even with a display
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
BIN="$PWD/build/bin"
INI="$BIN/kxloader.ini"

# A fresh copy of the demo project, so the shipped one stays as built.
DEMO="$PWD/build/demo-run"
rm -rf "$DEMO" && mkdir -p "$DEMO/files"
cp "$BIN/demo/demo.kxc" "$DEMO/"
cp "$BIN"/demo/files/demo_* "$BIN/demo/files/info.txt" "$DEMO/files/"

# The terminal emulator on a pseudo-terminal, serving a copy of the demo state.
STATE="$PWD/build/demo-terminal"
rm -rf "$STATE" && mkdir -p "$STATE"
cp data/demo/terminal/journal.txt "$STATE/"
PORT_FILE="$(mktemp)"
"$BIN/kxterminal" --state "$STATE" --pty >"$PORT_FILE" 2>"$STATE/kxterminal.log" &
TERMINAL_PID=$!
trap 'kill $TERMINAL_PID 2>/dev/null || true; rm -f "$PORT_FILE"' EXIT
for _ in $(seq 100); do grep -q '^port: ' "$PORT_FILE" && break; sleep 0.1; done
PORT="$(sed -n 's/^port: //p' "$PORT_FILE" | head -1)"
[ -n "$PORT" ] || { echo "kxterminal did not start"; cat "$STATE/kxterminal.log"; exit 1; }

# The demo project is the remembered configuration and the emulator is the port.
cat >"$INI" <<INI
[kxloader.exe]
port=$PORT
config=$DEMO/demo.kxc
OverwriteJournal=1
INI
# Every button of the main window available, "Создать" and "Редактор" included.
printf '[kxloader.exe]\nsetedit=1\n' >"$BIN/kxconfig.ini"
echo "Settings: $INI (port=$PORT, config=$DEMO/demo.kxc)"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "${1:-}" != "--cli" ]; then
  "$BIN/kxloader"
  exit 0
fi

show() { echo "   --- $1"; iconv -f WINDOWS-1251 -t UTF-8 "$DEMO/files/$1" | sed 's/\r$//; s/^/   /'; echo; }
step() {
  echo
  echo "\$ kxloader $*"
  set +e; "$BIN/kxloader" "$@"; local code=$?; set -e
  echo "   exit code $code"
  [ -f "$DEMO/files/errors.txt" ] && show errors.txt
}
unset DISPLAY WAYLAND_DISPLAY
echo "== kxloader command-line round against the emulated terminal =="
step /x /i
show id_term.txt
step /x /o demo_opers.ux3 /e demo_authors.ux4 /a demo_address.ux5 /d demo_ndocs.ux6 demo_ndocsplan.ux9 /w demo_wares.ux7 demo_waresl2.ux8
echo "   the terminal received: $(ls "$STATE"/directories 2>/dev/null | tr '\n' ' ')"
step /x /n
show j_count.txt
step /x /j journal.txt filter: o=1
show journal.txt
step /x /j
echo "   journal lines downloaded: $(wc -l < "$DEMO/files/journal.txt")"
