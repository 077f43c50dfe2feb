#!/usr/bin/env bash
# Waits until no other apt or dpkg holds the package manager's locks (on a
# fresh desktop the automatic updates hold them for minutes after boot), at
# most SECONDS (default $KX_APT_LOCK_WAIT, else 900), saying what it waits for.
# Exit status 0 when the locks are free, 1 when they were still held at the end.
#   scripts/wait-apt-lock.sh [SECONDS]
# KX_APT_LOCK_FILES (blank-separated) replaces the lock files looked at.
set -euo pipefail

limit="${1:-${KX_APT_LOCK_WAIT:-900}}"
read -r -a locks <<<"${KX_APT_LOCK_FILES:-/var/lib/dpkg/lock-frontend /var/lib/dpkg/lock /var/lib/apt/lists/lock /var/cache/apt/archives/lock}"

# The process id holding a lock on FILE, or nothing. apt and dpkg take fcntl
# locks, which flock(1) cannot see; F_GETLK names the holder without taking
# the lock. (Without python3 there is nothing to ask: apt's own lock time-out
# below in install-packages.sh still waits.)
holder() {
  [ -e "$1" ] && command -v python3 >/dev/null || return 0
  python3 - "$1" <<'PY' 2>/dev/null || true
import fcntl, struct, sys
with open(sys.argv[1], "rb") as f:
    query = struct.pack("hhxxxxqqixxxx", fcntl.F_WRLCK, 0, 0, 0, 0)
    kind, _, _, _, pid = struct.unpack("hhxxxxqqixxxx", fcntl.fcntl(f, fcntl.F_GETLK, query))
    if kind != fcntl.F_UNLCK:
        print(pid)
PY
}

start=$SECONDS
said=""
while :; do
  busy="" pid=""
  for file in "${locks[@]}"; do
    pid=$(holder "$file")
    if [ -n "$pid" ]; then busy="$file"; break; fi
  done
  [ -z "$busy" ] && exit 0
  name=$(cat "/proc/$pid/comm" 2>/dev/null || echo "a process")
  if (( SECONDS - start >= limit )); then
    echo "$busy is still held by $name (pid $pid) after ${limit} s; try again when it has finished" >&2
    exit 1
  fi
  line="Waiting for $name (pid $pid) to release $busy (at most ${limit} s) ..."
  if [ "$line" != "$said" ]; then echo "$line" >&2; said="$line"; fi
  sleep 1
done
