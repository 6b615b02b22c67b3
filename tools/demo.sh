#!/usr/bin/env bash
# The main job: builds the launcher and the sample setup program, packs the
# sample into a self-archive, runs it under Wine on a virtual display,
# presses "&Install", prints the status texts as they came, and saves
# pictures of the dialog before and during the job as
# docs/dialog-collapsed.png and docs/dialog-working.png.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

cmake --preset windows >/dev/null
cmake --build --preset windows -j2 \
  --target halvex-launcher halvex-sample-setup halvex-demo-driver
build=build/windows
tools/wine-run.sh --prepare "$build"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The one place that makes the self-archive: the launcher image, the marker
# and the sample compressed in the SZDD format.
# TODO(packer): replace the body with the packer once it is part of the main
# job's build:
#   build/host/packer/halvex-pack build -q \
#     "$build/samples/setup/halvex-sample-setup.exe" \
#     --stub "$build/launcher/halvex-launcher.exe" -o "$1"
make_self_archive() {  # OUT
  cp "$build/samples/setup/halvex-sample-setup.exe" "$work/setup.exe"
  mscompress "$work/setup.exe"
  { cat "$build/launcher/halvex-launcher.exe"; printf 'Archive sTaRT'
    cat "$work/setup.exe_"; } > "$1"
}

windows_path() { local p; p=$(realpath "$1"); echo "Z:${p//\//\\}"; }

take_picture() {  # NAME LEFT TOP WIDTH HEIGHT
  import -window root png:- |
    convert - -crop "${4}x${5}+${2}+${3}" +repage -strip \
      -define png:exclude-chunks=date,time "docs/dialog-$1.png"
  echo "saved docs/dialog-$1.png"
}

archive=$work/halvex-setup.exe
make_self_archive "$archive"
echo "self-archive: $(stat -c %s "$archive") bytes"
mkdir -p docs
tools/wine-run.sh "$build/tests/e2e/halvex-demo-driver.exe" \
    "$(windows_path "$archive")" "$(windows_path "$work")" |
  while read -r kind rest; do
    rest=${rest%$'\r'}
    case $kind in
      picture)
        # shellcheck disable=SC2086  # the name and four numbers
        take_picture $rest
        touch "$work/$(cut -d' ' -f1 <<<"$rest").done" ;;
      *) echo "$kind $rest" ;;
    esac
  done
