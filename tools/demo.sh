#!/usr/bin/env bash
# The main job: builds the launcher and the sample setup program, packs the
# sample into a self-archive, runs it under Wine on a virtual display,
# presses "&Install", prints the status texts as they came, and saves
# pictures of the dialog before and during the job as
# docs/dialog-collapsed.png and docs/dialog-working.png. The Wine part runs
# where Windows programs run (tools/windows-side.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/windows

windows_path() { local p; p=$(realpath "$1"); echo "Z:${p//\//\\}"; }

take_picture() {  # NAME LEFT TOP WIDTH HEIGHT
  import -window root png:- |
    convert - -crop "${4}x${5}+${2}+${3}" +repage -strip \
      -define png:exclude-chunks=date,time "docs/dialog-$1.png"
  echo "saved docs/dialog-$1.png"
}

# Starts the self-archive ARCHIVE and works it; WORK is a folder for its
# files.
show_self_archive() {  # ARCHIVE WORK
  local archive=$1 work=$2
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
}

if tools/windows-side.sh --inside; then
  show_self_archive "$@"
  exit
fi

bash tools/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j2 \
  --target halvex-launcher halvex-sample-setup halvex-demo-driver
cmake --preset host >/dev/null
cmake --build --preset host -j2 --target halvex-pack

# In the work tree, which the emulated machine shares (its /tmp is its own).
work=$(mktemp -d "$PWD/build/demo.XXXXXX")
trap 'rm -rf "$work"' EXIT
# The self-archive: the launcher image embedded in the packer, the marker and
# the sample compressed in the SZDD format.
archive=$work/halvex-setup.exe
build/host/packer/halvex-pack build "$build/samples/setup/halvex-sample-setup.exe" -o "$archive"
build/host/packer/halvex-pack verify "$archive"
echo "self-archive: $(stat -c %s "$archive") bytes"
tools/windows-side.sh tools/demo.sh "$archive" "$work"
