#!/bin/sh
# cmake --install of the host build into a throwaway DESTDIR, under a prefix
# other than the configured one: halvex-pack runs from there, and the
# launcher image, the manual page, the README, the copyright file and the
# changelog are in their places.
# Usage: install_tree_test.sh CMAKE HOST_BUILD SAMPLE_SETUP_PROGRAM VERSION ROUNDTRIP
set -eu
cmake=$1 build=$2 sample=$3 version=$4 roundtrip=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR="$work/stage" "$cmake" --install "$build" --prefix /opt/halvex-test >/dev/null ||
  fail "cmake --install failed"
root=$work/stage/opt/halvex-test
for f in bin/halvex-pack share/halvex/halvex-launcher.exe share/man/man1/halvex-pack.1.gz \
  share/doc/halvex-pack/README.md share/doc/halvex-pack/copyright \
  share/doc/halvex-pack/changelog.gz; do
  [ -f "$root/$f" ] || fail "not installed: $f"
done
# Nothing lands outside the prefix.
[ "$(ls "$work/stage")" = opt ] || fail "files outside the prefix: $(ls "$work/stage")"

# Moved elsewhere after the install, the tree still works: nothing in it
# names where it was put.
mv "$root" "$work/moved"
"$roundtrip" "$work/moved/bin/halvex-pack" "$sample" \
  "$work/moved/share/halvex/halvex-launcher.exe" "$version"
manual=$work/moved/share/man/man1/halvex-pack.1.gz
warnings=$(zcat "$manual" | groff -man -Tutf8 -ww -z 2>&1)
[ -z "$warnings" ] || fail "the manual page does not render cleanly: $warnings"
# Its header names the version and the day of the last commit.
day=$(TZ=UTC git -C "$(dirname "$0")" log -1 --format=%cd --date=format-local:%Y-%m-%d 2>/dev/null) ||
  day=$(date -u +%Y-%m-%d)
zcat "$manual" | grep -qx ".TH HALVEX-PACK 1 \"$day\" \"halvex-pack $version\" .*" ||
  fail "the manual page's header does not name $version and $day: $(zcat "$manual" | head -n 1)"
echo "install tree: ok"
