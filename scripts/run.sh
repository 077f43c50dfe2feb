#!/usr/bin/env bash
# Builds what the demo needs and runs it on the shipped defaults: the template,
# a fresh copy of the demo project and an emulated terminal. The demo runs in a
# program folder of its own (build/demo-run/bin) with its own kxloader.ini, so
# the settings in build/bin are never touched.
#   scripts/run.sh          with a display: the main window on the demo project
#                           without one: a printed command-line round
#   scripts/run.sh --cli    the command-line round even with a display
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"

step() { printf '\n== %s\n' "$*"; }
# A command line as it can be pasted into a shell.
quoted() { printf '%q ' "$@" | sed 's/ $//'; }

step "Installing missing packages, then building the program, the link component, the terminal emulator and the demo project (no tests, no benchmarks)"
KX_BUILD_TARGETS="kxloader parlink kxterminal kx_demo" scripts/setup.sh build

BIN="$ROOT/build/bin"
RUN="$ROOT/build/demo-run"
PROGRAM="$RUN/bin"      # the demo's program folder: kxloader finds its settings beside itself
DEMO="$RUN/project"     # a copy of the demo project: the shipped one stays as built
STATE="$RUN/terminal"   # what the emulated terminal keeps: journal, received directories
step "Preparing the demo's own program folder $PROGRAM and a fresh copy of the demo project in $DEMO"
rm -rf "$RUN"
mkdir -p "$PROGRAM" "$DEMO/files" "$STATE"
# The programs are linked (or copied); the template is always copied, as the
# program writes into it.
for f in kxloader kxterminal libparlink.so; do
  ln -f "$BIN/$f" "$PROGRAM/$f" 2>/dev/null || cp -p "$BIN/$f" "$PROGRAM/$f"
done
cp "$BIN/components.ini" "$BIN/KXConfigFMT.db" "$PROGRAM/"
[ -f "$BIN/parlink.ini" ] && cp "$BIN/parlink.ini" "$PROGRAM/"
cp "$BIN/demo/demo.kxc" "$DEMO/"
cp "$BIN"/demo/files/demo_* "$BIN/demo/files/info.txt" "$DEMO/files/"
cp data/demo/terminal/journal.txt "$STATE/"

step "Starting the terminal emulator on a pseudo-terminal (it serves the demo journal)"
PORT_FILE="$(mktemp)"
"$PROGRAM/kxterminal" --state "$STATE" --pty >"$PORT_FILE" 2>"$STATE/kxterminal.log" &
TERMINAL_PID=$!
trap 'kill $TERMINAL_PID 2>/dev/null || true; rm -f "$PORT_FILE"' EXIT
for _ in $(seq 100); do grep -q '^port: ' "$PORT_FILE" && break; sleep 0.1; done
PORT="$(sed -n 's/^port: //p' "$PORT_FILE" | head -1)"
[ -n "$PORT" ] || { echo "kxterminal did not start:"; cat "$STATE/kxterminal.log"; exit 1; }

INI="$PROGRAM/kxloader.ini"
step "Writing $INI: the emulator's port and the demo project"
cat >"$INI" <<INI
[kxloader.exe]
port=$PORT
config=$DEMO/demo.kxc
OverwriteJournal=1
INI
sed 's/^/   /' "$INI"
# Every button of the main window available, "Создать" and "Редактор" included.
printf '[kxloader.exe]\nsetedit=1\n' >"$PROGRAM/kxconfig.ini"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "${1:-}" != "--cli" ]; then
  step "Opening the main window on the demo project (close it to end the demo)"
  echo "\$ $(quoted "$PROGRAM/kxloader")"
  "$PROGRAM/kxloader"
  exit 0
fi

# Shows a Windows-1251 file of the project on this UTF-8 console.
show() {
  local file="$DEMO/files/$1"
  echo "\$ $(quoted iconv -f WINDOWS-1251 -t UTF-8 "$file")"
  iconv -f WINDOWS-1251 -t UTF-8 "$file" | sed 's/\r$//; s/^/   /'
  echo
}
# Runs one batch of kxloader, says what it does, prints its exit code and report.
batch() {
  local what="$1"; shift
  step "$what"
  echo "\$ $(quoted "$PROGRAM/kxloader" "$@")"
  set +e; "$PROGRAM/kxloader" "$@"; local code=$?; set -e
  echo "   exit status $code"
  [ -f "$DEMO/files/errors.txt" ] && show errors.txt
  return 0
}
unset DISPLAY WAYLAND_DISPLAY
echo
echo "kxloader command-line round against the emulated terminal; file names are relative to $DEMO/files"
batch "Reading the terminal's identity into id_term.txt (report: errors.txt)" /x /i
show id_term.txt
batch "Uploading every demo directory in one session" \
  /x /o demo_opers.ux3 /e demo_authors.ux4 /a demo_address.ux5 /d demo_ndocs.ux6 demo_ndocsplan.ux9 \
  /w demo_wares.ux7 demo_waresl2.ux8
echo "   the terminal received: $(ls "$STATE"/directories 2>/dev/null | tr '\n' ' ')"
batch "Counting the terminal's journal lines into j_count.txt" /x /n
show j_count.txt
batch "Downloading only the journal lines of operation 1 into journal.txt" /x /j journal.txt filter: o=1
show journal.txt
batch "Downloading the whole journal into journal.txt" /x /j
echo "   journal lines downloaded: $(wc -l < "$DEMO/files/journal.txt")"
echo
echo "The emulator stops with this script. The commands above work again while one runs:"
echo "   \$ $(quoted "$PROGRAM/kxterminal" --state "$STATE" --pty) &"
echo "then put the port it prints into $INI (port=...)."
