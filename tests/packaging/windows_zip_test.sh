#!/bin/sh
# The zip of the Windows build: halvex-pack.exe, the launcher image, the
# README and the licence in one folder.  Under Wine its halvex-pack.exe names
# the same version and image as the host's, and makes the same archive byte
# for byte.
# Usage: windows_zip_test.sh CPACK CMAKE WINDOWS_BUILD HOST_PACK SAMPLE_SETUP_PROGRAM
#                            VERSION WINE_RUN
set -eu
cpack=$1 cmake=$2 build=$(realpath "$3") host_pack=$(realpath "$4") sample=$(realpath "$5")
version=$6 wine_run=$(realpath "$7")
# Inside the Windows build tree, so that the runner uses that tree's Wine
# prefix (and the server the test run keeps up for it).
work=$(mktemp -d "$build/zip-test.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && "$cpack" -G ZIP -B "$work/out" >"$work/cpack.log" 2>&1) ||
  fail "cpack failed: $(cat "$work/cpack.log")"
zip=$work/out/halvex-pack-$version-win32.zip
[ -f "$zip" ] || fail "no zip named for $version: $(ls "$work/out")"
mkdir "$work/unpacked"
(cd "$work/unpacked" && "$cmake" -E tar xf "$zip") || fail "the zip does not unpack"
dir=$work/unpacked/halvex-pack-$version-win32
[ "$(cd "$dir" && ls | sort | tr '\n' ' ')" = "LICENSE README.md halvex-launcher.exe halvex-pack.exe " ] ||
  fail "unexpected contents: $(ls -R "$work/unpacked")"
cmp "$build/launcher/halvex-launcher.exe" "$dir/halvex-launcher.exe" ||
  fail "the zip's launcher image is not the build's"

"$wine_run" "$dir/halvex-pack.exe" --version | tr -d '\r' >"$work/version.exe" ||
  fail "halvex-pack.exe --version failed under Wine"
"$host_pack" --version >"$work/version.host"
cmp "$work/version.host" "$work/version.exe" ||
  fail "versions differ: $(cat "$work/version.host") / $(cat "$work/version.exe")"

"$wine_run" "$dir/halvex-pack.exe" build -q "Z:$sample" -o "Z:$work/windows.exe" ||
  fail "halvex-pack.exe build failed under Wine"
"$host_pack" build -q "$sample" -o "$work/host.exe"
cmp "$work/host.exe" "$work/windows.exe" || fail "the Windows packer made other bytes"
"$wine_run" "$dir/halvex-pack.exe" verify -q "Z:$work/host.exe" ||
  fail "halvex-pack.exe does not verify the host's archive"
# File names in any script: the command line is read wide, never through the
# ANSI code page (1252 here, which has none of these characters). Wine takes
# the Unix arguments as UTF-8.
names=$work/Иван
mkdir "$names"
cp "$sample" "$names/установка.exe"
LC_ALL=C.UTF-8 "$wine_run" "$dir/halvex-pack.exe" build -q "Z:$names/установка.exe" \
  -o "Z:$names/山田 Łukasz.exe" || fail "halvex-pack.exe build failed on names in other scripts"
cmp "$work/host.exe" "$names/山田 Łukasz.exe" || fail "the archive named in other scripts differs"
LC_ALL=C.UTF-8 "$wine_run" "$dir/halvex-pack.exe" extract -q "Z:$names/山田 Łukasz.exe" \
  -o "Z:$names/setup.exe" || fail "halvex-pack.exe extract failed on names in other scripts"
cmp "$sample" "$names/setup.exe" || fail "the setup program came out wrong"
echo "Windows zip: ok"
