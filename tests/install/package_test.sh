#!/usr/bin/env bash
# The Debian package as a maintainer checks it: `cpack -G DEB`, then lintian
# (no error, no warning; where lintian is installed), every manual page
# through `man --warnings`, no run-time search path in any program, every
# installed document that anything points to present; then dpkg installs it
# into an empty root (as root), the administrator edits the conffile, a
# reinstall and an upgrade keep the edit, and the purge leaves nothing in /usr
# or /etc. A build with the tests'
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

# What is in the package, read from the .deb itself.
mkdir -p "$work/contents"
dpkg-deb -x "$deb" "$work/contents"
fail_contents() { echo "FAIL: $*"; exit 1; }

# Every manual page renders without a warning and holds no control byte
# (a form feed in the roff source prints as garbage in the middle of a line).
for page in "$work"/contents/usr/share/man/man1/*.1.gz; do
  name=$(basename "$page" .1.gz)
  if zcat "$page" | LC_ALL=C grep -naP '[\x00-\x08\x0b-\x1f\x7f]' >"$work/ctl.txt"; then
    fail_contents "$name(1) holds control bytes: $(cat -A "$work/ctl.txt" | head -3)"
  fi
  warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$page" 2>&1 >/dev/null || true)
  [ -z "$warnings" ] || fail_contents "man --warnings $name(1): $warnings"
done
echo "every manual page renders without a warning"

# No program or library carries a run-time search path: everything they
# load is in the system's own library folders (the link component is found
# through components.ini).
for elf in "$work"/contents/usr/bin/* "$work"/contents/usr/lib/kxconfig/*.so; do
  if readelf -d "$elf" | grep -E '\((RPATH|RUNPATH)\)'; then
    fail_contents "$(basename "$elf") has a run-time search path"
  fi
done
echo "no RPATH or RUNPATH in any packaged program or library"

# Every installed document a program, a manual page or another document
# points to is in the package under the name it is given.
pointers=$( { for page in "$work"/contents/usr/share/man/man1/*.1.gz; do zcat "$page"; done
              for doc in "$work"/contents/usr/share/doc/kxconfig/*.md.gz; do zcat "$doc"; done
              cat "$work"/contents/usr/share/doc/kxconfig/README* "$work"/contents/etc/kxconfig/parlink.ini
              for program in kxloader kxsync kxterminal kxupdate_pc; do "$build/bin/$program" --help; done
            } 2>/dev/null | sed 's/\\-/-/g' | grep -oE '/usr/share/doc/kxconfig/[A-Za-z0-9._/-]*[A-Za-z0-9]' | sort -u)
[ -n "$pointers" ] || fail_contents "no pointer to the installed documents found at all"
for pointer in $pointers; do
  [ -e "$work/contents$pointer" ] || fail_contents "$pointer is named but not installed"
done
# Nothing installed sends the reader to the source tree's docs/ folder.
for program in kxloader kxsync kxterminal kxupdate_pc; do
  if "$build/bin/$program" --help 2>/dev/null | grep -nE '(^|[ (])docs/'; then
    fail_contents "$program --help names the source tree's docs/ instead of the installed documents"
  fi
done
for page in "$work"/contents/usr/share/man/man1/*.1.gz; do
  if zcat "$page" | grep -nE '(^|[ (])docs/'; then fail_contents "$(basename "$page") names the source tree's docs/"; fi
done
# The pictures the user guide shows are next to it.
for picture in $(zcat "$work"/contents/usr/share/doc/kxconfig/user-guide.md.gz | grep -oE 'images/[A-Za-z0-9_.-]+\.png' | sort -u); do
  [ -f "$work/contents/usr/share/doc/kxconfig/$picture" ] || fail_contents "the user guide shows $picture, not installed"
done
echo "every installed document named anywhere is in the package ($(wc -w <<<"$pointers") pointers)"

if command -v dpkg >/dev/null && [ "$(id -u)" = 0 ]; then
  root="$work/root"
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
  : >"$root/var/lib/dpkg/status"
  dpkg=(dpkg --root="$root" --force-depends --force-script-chrootless --log=/dev/null)
  fail() { echo "FAIL: $*"; cat "$work/dpkg.log"; exit 1; }
  "${dpkg[@]}" -i "$deb" >"$work/dpkg.log" 2>&1 || fail "the first install failed"
  conf="$root/etc/kxconfig/parlink.ini"
  dpkg --root="$root" -s kxconfig | grep -q '^ /etc/kxconfig/parlink.ini ' || fail "parlink.ini is not a conffile"
  [ -f "$root/usr/share/man/man1/kxloader.1.gz" ] || fail "no manual page"
  # The administrator edits the conffile; a stray file lies where no
  # version ever read settings from.
  printf '\n[ports]\nCOM1=/dev/ttyUSB7\n' >>"$conf"
  edited=$(sha256sum <"$conf")
  mkdir -p "$root/usr/lib/kxconfig"
  printf '[ports]\nCOM1=/dev/ttyS9\n' >"$root/usr/lib/kxconfig/parlink.ini"
  # A reinstall of the same version, then an upgrade to the next one.
  mkdir "$work/next"
  dpkg-deb -R "$deb" "$work/next/tree"
  sed -i 's/^Version: .*/&.1/' "$work/next/tree/DEBIAN/control"
  dpkg-deb --root-owner-group -b "$work/next/tree" "$work/next/kxconfig_next.deb" >/dev/null
  for step in reinstall:"$deb" upgrade:"$work/next/kxconfig_next.deb"; do
    "${dpkg[@]}" -i "${step#*:}" >"$work/dpkg.log" 2>&1 || fail "the ${step%%:*} failed"
    [ "$(sha256sum <"$conf")" = "$edited" ] || fail "the ${step%%:*} changed the administrator's edited parlink.ini"
    [ ! -e "$conf.dpkg-dist" ] || fail "the ${step%%:*} set the administrator's file aside as .dpkg-dist"
    ! grep -qi "moved" "$work/dpkg.log" || fail "the ${step%%:*} says a settings file was moved"
  done
  grep -q '^COM1=/dev/ttyS9$' "$root/usr/lib/kxconfig/parlink.ini" || fail "the stray file was touched"
  echo "dpkg: a reinstall and an upgrade keep the edited conffile, whatever lies in /usr/lib/kxconfig"
  rm "$root/usr/lib/kxconfig/parlink.ini"  # the administrator's own file, not the package's
  "${dpkg[@]}" -P kxconfig >"$work/dpkg.log" 2>&1 || fail "the purge failed"
  left=$(cd "$root" && find usr etc -mindepth 1 2>/dev/null || true)
  [ -z "$left" ] || fail "the purge left behind: $left"
  echo "dpkg: the purge left nothing in /usr or /etc"
  checked=1
else
  echo "SKIP dpkg install, upgrade and purge: needs dpkg and root"
fi

[ "$checked" = 1 ] || exit 77
