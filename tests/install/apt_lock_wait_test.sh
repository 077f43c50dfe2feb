#!/usr/bin/env bash
# scripts/wait-apt-lock.sh: free locks pass at once and silently; a held lock
# is waited for with a line naming the lock and its holder, and the wait ends
# when the holder lets go; a lock held past the limit fails, saying so.
#   apt_lock_wait_test.sh SOURCE_DIR
set -euo pipefail
wait_lock="$1/scripts/wait-apt-lock.sh"
command -v python3 >/dev/null || { echo "SKIP: no python3 to hold a lock"; exit 77; }
work="$(mktemp -d)"
holder_pid=""
trap '[ -n "$holder_pid" ] && kill "$holder_pid" 2>/dev/null; rm -rf "$work"' EXIT
lock="$work/lock-frontend"
: >"$lock"
fail() { echo "FAIL: $*"; exit 1; }

out=$(KX_APT_LOCK_FILES="$lock $work/absent" "$wait_lock" 5 2>&1) || fail "free locks: $out"
[ -z "$out" ] || fail "free locks are not waited for, yet it said: $out"

# A holder (fcntl, as apt and dpkg lock) that lets go when its input closes.
mkfifo "$work/release"
python3 -c '
import fcntl, sys
f = open(sys.argv[1], "w")
fcntl.lockf(f, fcntl.LOCK_EX)
print("locked", flush=True)
sys.stdin.read()
' "$lock" <"$work/release" >"$work/holder.out" &
holder_pid=$!
exec 3>"$work/release"
for _ in $(seq 600); do grep -q locked "$work/holder.out" && break; sleep 0.1; done
grep -q locked "$work/holder.out" || fail "the holder did not take the lock"

if out=$(KX_APT_LOCK_FILES="$lock" "$wait_lock" 1 2>&1); then fail "a held lock passed: $out"; fi
grep -q "$lock is still held by python3 (pid $holder_pid) after 1 s" <<<"$out" || fail "no reason given: $out"

KX_APT_LOCK_FILES="$lock" "$wait_lock" 300 2>"$work/wait.err" 3>&- &
waiter=$!
for _ in $(seq 600); do grep -q Waiting "$work/wait.err" && break; sleep 0.1; done
grep -q "^Waiting for python3 (pid $holder_pid) to release $lock (at most 300 s) ...$" "$work/wait.err" ||
  fail "no line saying what it waits for: $(cat "$work/wait.err")"
exec 3>&-   # the holder lets go
wait "$holder_pid"; holder_pid=""
rc=0; wait "$waiter" || rc=$?
[ "$rc" = 0 ] || fail "the wait did not end well when the lock was let go ($rc): $(cat "$work/wait.err")"
[ "$(grep -c Waiting "$work/wait.err")" = 1 ] || fail "the waiting line repeats: $(cat "$work/wait.err")"
echo "free locks pass, a held lock is waited for (saying so) until let go, and the wait is bounded"
