#!/bin/sh
# The Debian package of the host build: lintian's verdict, its control
# fields, and an install
# with dpkg into a throwaway root whose dpkg database knows only the
# packages it depends on.  dpkg checks the declared dependencies against
# those records, unpacks, configures, and removes it again.  (A debootstrap
# chroot would need a mirror and minutes for every run; the installed
# program runs here on the host's libraries, which are the very packages
# whose records the root was given.)
# Usage: deb_package_test.sh CPACK HOST_BUILD SAMPLE_SETUP_PROGRAM VERSION ROUNDTRIP
set -eu
cpack=$1 build=$2 sample=$3 version=$4 roundtrip=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && "$cpack" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) ||
  fail "cpack failed: $(cat "$work/cpack.log")"
set -- "$work"/out/halvex-pack_*.deb
[ $# -eq 1 ] && [ -f "$1" ] || fail "no single .deb made: $*"
deb=$1

# lintian, as a Debian maintainer runs it: no error, no warning, and none of
# its notes on a binary built without the hardening flags.
# Its findings are what a failure reports, not its note on running as root.
lintian -I --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 ||
  fail "lintian: $(grep -E '^[EW]: ' "$work/lintian.log" || cat "$work/lintian.log")"
! grep -E '^[EWI]: .* hardening-' "$work/lintian.log" || fail "lintian: not hardened"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = halvex-pack ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version), not $version"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
# dpkg-shlibdeps computed them: the C and C++ runtimes, with versions.
depends=$(field Depends)
for lib in libc6 libstdc++6; do
  echo "$depends" | grep -q "$lib (>= " || fail "Depends lacks $lib with a version: $depends"
done

# The root: an empty dpkg database with the dependencies' records, as the
# host has them.
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
arch=$(field Architecture)
: >"$root/var/lib/dpkg/status"
for pkg in $(echo "$depends" | sed 's/([^)]*)//g; s/,/ /g'); do
  dpkg-query -s "$pkg:$arch" >>"$root/var/lib/dpkg/status" ||
    fail "the host lacks $pkg:$arch"
  echo >>"$root/var/lib/dpkg/status"
  : >"$root/var/lib/dpkg/info/$pkg:$arch.list"
done
dpkg_root() { fakeroot dpkg --force-not-root --root="$root" --log=/dev/null "$@"; }

dpkg_root -i "$deb" >"$work/dpkg.log" 2>&1 || fail "dpkg -i failed: $(cat "$work/dpkg.log")"
dpkg_root -s halvex-pack | grep -qx "Status: install ok installed" ||
  fail "not installed: $(dpkg_root -s halvex-pack)"
"$roundtrip" "$root/usr/bin/halvex-pack" "$sample" "$root/usr/share/halvex/halvex-launcher.exe" \
  "$version"
dpkg_root -L halvex-pack | grep -qx /usr/share/man/man1/halvex-pack.1.gz || fail "no manual page"

dpkg_root -r halvex-pack >"$work/dpkg.log" 2>&1 || fail "dpkg -r failed: $(cat "$work/dpkg.log")"
left=$(find "$root" -path "$root/var" -prune -o ! -type d -print)
[ -z "$left" ] || fail "left after removal: $left"
echo "Debian package: ok"
