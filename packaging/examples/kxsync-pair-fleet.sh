#!/bin/sh
# Pairs this computer (this account) with every network terminal of a kxsync
# list, one after the other. Each terminal shows its own code, so kxsync
# cannot pair them in one go; this asks for each terminal's code in turn, or
# reads them all once from a file of "NAME CODE" lines.
#   kxsync-pair-fleet.sh TERMINALS [CODES]
# Run it as the account that runs the rounds (sudo -u kxsync -H ...): the pins
# are that account's (~/.config/kxconfig/link-pins.txt). Exit status: 0 when
# every network terminal was paired, else the number of those that were not.
set -u
list="$1"
codes="${2:-}"
settings="${KXLOADER_INI:-$HOME/.config/kxconfig/kxloader.ini}"
[ -f "$settings" ] || { echo "no settings file $settings (its config= names the project)" >&2; exit 64; }
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
failed=0
# The list on descriptor 3, so reading a code from the keyboard still works.
while read -r name port rest <&3; do
  case "$name" in ''|'#'*) continue ;; esac
  case "$port" in tcp:*) ;; *) continue ;; esac  # only network terminals are paired
  if [ -n "$codes" ]; then
    code=$(awk -v n="$name" '$1 == n { print $2; exit }' "$codes")
  else
    printf 'Open pairing on %s (%s) and type the code it shows: ' "$name" "$port" >/dev/tty
    read -r code </dev/tty
  fi
  [ -n "$code" ] || { echo "$name: no code" >&2; failed=$((failed + 1)); continue; }
  # The shared settings with this terminal's port, as kxsync makes them.
  sed "s|^port=.*|port=$port|" "$settings" >"$work/$name.ini"
  grep -q '^port=' "$work/$name.ini" || printf 'port=%s\n' "$port" >>"$work/$name.ini"
  if printf '%s\n' "$code" | KXLOADER_INI="$work/$name.ini" kxloader /pair -; then
    echo "$name: paired"
  else
    echo "$name: not paired (exit status $?)" >&2
    failed=$((failed + 1))
  fi
done 3<"$list"
exit "$failed"
