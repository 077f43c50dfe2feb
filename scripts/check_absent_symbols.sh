#!/bin/sh
# check_absent_symbols.sh BINARY WORD...
# Fails (1) when the demangled symbol table of BINARY names any WORD, listing
# the first few such symbols; 2 when the binary has no symbol table to read,
# so a stripped or missing file never passes for a clean one.
set -u
if [ $# -lt 2 ]; then
  echo "usage: $0 BINARY WORD..." >&2
  exit 2
fi
binary=$1
shift
if ! symbols=$(nm -C "$binary" 2>&1); then
  echo "nm cannot read $binary: $symbols" >&2
  exit 2
fi
if ! printf '%s\n' "$symbols" | grep -q ' [TtWw] '; then
  echo "$binary has no symbol table to check" >&2
  exit 2
fi
status=0
for word in "$@"; do
  found=$(printf '%s\n' "$symbols" | grep -F -- "$word" | head -n 5)
  if [ -n "$found" ]; then
    echo "$binary carries $word:"
    printf '%s\n' "$found"
    status=1
  fi
done
[ $status -eq 0 ] && echo "$binary carries none of: $*"
exit $status
