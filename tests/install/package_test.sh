#!/usr/bin/env bash
# The Debian package as a maintainer checks it: `cpack -G DEB`, then lintian
# (no error, no warning; where lintian is installed), then dpkg installs it
# into an empty root and purges it again (as root): an administrator's
# parlink.ini from the place older versions read moves to the conffile in
# /etc, and the purge leaves nothing in /usr or /etc. A build with the tests'
# kill points (KX_TEST_HOOKS=ON, as the tests' own build is) must be refused
# by cpack; its package is then made with the refusal overridden, for the
# checks alone. A build without them must carry no kill point.
#   package_test.sh BUILD_DIR        exit 77: nothing could be checked here
set -euo pipefail
build="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
checked=0

cpack_options=()
hooks=$(sed -n 's/^KX_TEST_HOOKS:BOOL=//p' "$build/CMakeCache.txt")
if [ "$hooks" = ON ]; then
  if (cd "$build" && cpack -G DEB -B "$work/refused") >"$work/refused.log" 2>&1; then
    echo "FAIL: cpack made a package of a build with the tests' kill points"
    exit 1
  fi
  grep -q "KX_TEST_HOOKS=ON" "$work/refused.log" || { echo "FAIL: cpack's refusal does not say why"; cat "$work/refused.log"; exit 1; }
  echo "cpack refuses a build with the tests' kill points"
  cpack_options=(-D CPACK_KX_ACCEPT_TEST_HOOKS=ON)
fi
if ! (cd "$build" && cpack -G DEB -B "$work/out" "${cpack_options[@]}") >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  exit 1
fi
deb=$(echo "$work"/out/kxconfig_*.deb)
echo "built $(basename "$deb")"
if [ "$hooks" != ON ]; then
  mkdir "$work/unpacked"
  dpkg-deb -x "$deb" "$work/unpacked"
  if grep -l KX_TEST_PAUSE_AT "$work"/unpacked/usr/bin/* "$work"/unpacked/usr/lib/kxconfig/*.so; then
    echo "FAIL: a packaged program can be stopped through KX_TEST_PAUSE_AT"
    exit 1
  fi
  echo "no packaged program has the tests' kill points"
fi

if command -v lintian >/dev/null; then
  # Every finding is shown (informational ones too); errors and warnings fail.
  # (Run as root, lintian says on stderr that this is not recommended.)
  if ! lintian --fail-on error,warning --display-info --pedantic "$deb" 2>"$work/lintian.err"; then
    echo "FAIL: lintian reports errors or warnings"
    cat "$work/lintian.err"
    exit 1
  fi
  echo "lintian: no error, no warning"
  checked=1
else
  echo "SKIP lintian: not installed (scripts/test.sh installs it)"
fi

if command -v dpkg >/dev/null && [ "$(id -u)" = 0 ]; then
  root="$work/root"
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
  : >"$root/var/lib/dpkg/status"
  # An administrator's port mapping where older versions read it.
  mkdir -p "$root/usr/lib/kxconfig"
  printf '[ports]\nCOM1=/dev/ttyUSB7\n' >"$root/usr/lib/kxconfig/parlink.ini"
  dpkg=(dpkg --root="$root" --force-depends --force-script-chrootless --log=/dev/null)
  "${dpkg[@]}" -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; exit 1; }
  fail() { echo "FAIL: $*"; cat "$work/dpkg.log"; exit 1; }
  grep -q '^COM1=/dev/ttyUSB7$' "$root/etc/kxconfig/parlink.ini" || fail "the administrator's mapping is not in /etc"
  [ -f "$root/etc/kxconfig/parlink.ini.dpkg-dist" ] || fail "the package's own parlink.ini is not kept beside it"
  [ ! -e "$root/usr/lib/kxconfig/parlink.ini" ] || fail "the old parlink.ini is still in /usr/lib/kxconfig"
  dpkg --root="$root" -s kxconfig | grep -q '^ /etc/kxconfig/parlink.ini ' || fail "parlink.ini is not a conffile"
  [ -f "$root/usr/share/man/man1/kxloader.1.gz" ] || fail "no manual page"
  "${dpkg[@]}" -P kxconfig >>"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; exit 1; }
  left=$(cd "$root" && find usr etc -mindepth 1 2>/dev/null || true)
  [ -z "$left" ] || fail "the purge left behind: $left"
  echo "dpkg: installed into an empty root, administrator's settings moved to /etc; the purge left nothing in /usr or /etc"
  checked=1
else
  echo "SKIP dpkg install and purge: needs dpkg and root"
fi

[ "$checked" = 1 ] || exit 77
