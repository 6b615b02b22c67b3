#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the benchmarks
# need, and what the emulated machine needs on a host that runs no 32-bit
# programs. Idempotent: returns at once when everything is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  g++-mingw-w64-i686 mingw-w64-tools binutils-mingw-w64-i686
  googletest libgtest-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev
  dpkg-dev file fakeroot groff-base lintian
  wine wine32:i386 xvfb xauth x11-utils x11-apps imagemagick
  mscompress libmspack-dev osslsigncode openssl
  valgrind time
)
# A host whose kernel runs no 32-bit programs runs the Windows side in an
# emulated machine: qemu, Debian's kernel (only files under /boot and
# /lib/modules; the running kernel is untouched) and a static busybox.
if ! "$(dirname "$0")/runs-32-bit-programs.sh"; then
  packages+=(qemu-system-x86 linux-image-amd64 busybox-static)
fi

missing=()
for p in "${packages[@]}"; do
  [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

export DEBIAN_FRONTEND=noninteractive
# grep without -q reads all its input, so the writer never dies of SIGPIPE.
if ! dpkg --print-foreign-architectures | grep -x i386 >/dev/null; then
  dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
