#!/usr/bin/env bash
# Runs a command where this project's Windows programs run: on this host
# when its kernel runs 32-bit programs, else inside the emulated machine
# (tools/emulated-machine.sh); on a virtual display when none is set; with
# one Wine server for the windows build kept up for the command's whole
# length. The command sees HALVEX_WINDOWS_SIDE=1.
# Usage: windows-side.sh COMMAND [ARGS...]
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)

if ! "$tools/runs-32-bit-programs.sh"; then
  if [ "${HALVEX_EMULATED_MACHINE:-}" = inside ]; then
    echo "windows-side: the emulated machine runs no 32-bit programs either" >&2
    exit 126
  fi
  exec "$tools/emulated-machine.sh" "$tools/windows-side.sh" "$@"
fi
[ -n "${DISPLAY:-}" ] || exec "$tools/virtual-display.sh" "$tools/windows-side.sh" "$@"

build=$tools/../build/windows
"$tools/wine-run.sh" --serve "$build"
# Wine's processes end before the virtual display does.
trap '"$tools/wine-run.sh" --stop "$build"' EXIT
HALVEX_WINDOWS_SIDE=1 "$@"
