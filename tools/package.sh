#!/usr/bin/env bash
# Makes the release packages from this checkout into build/packages/: the
# Debian package of the host build (halvex-pack_VERSION_ARCH.deb) and the zip
# of the Windows build (halvex-pack-VERSION-win32.zip), each with a .sha256.
# Nothing here runs a Windows program, so no display is needed.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup.sh
cmake --preset windows
cmake --build --preset windows -j2
cmake --preset host
cmake --build --preset host -j2

# Every file in the packages dated by the last commit: the same checkout
# gives the same package bytes.
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && epoch=$(git log -1 --format=%ct 2>/dev/null); then
  export SOURCE_DATE_EPOCH=$epoch
fi

out=$PWD/build/packages
rm -rf "$out"
(cd build/windows && cpack -B "$out")
(cd build/host && cpack -B "$out")
rm -rf "$out/_CPack_Packages"
ls -l "$out"
