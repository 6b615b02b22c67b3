#!/usr/bin/env bash
# Runs a command where this project's Windows programs run: on this host
# when its kernel runs 32-bit programs, else inside the emulated machine
# (tools/emulated-machine.sh); on a virtual display when none is set; with
# one Wine server for the windows build kept up for the command's whole
# length.
# Usage: windows-side.sh COMMAND [ARGS...]
#        windows-side.sh --inside   succeeds only in a command it runs
# The command sees HALVEX_WINDOWS_SIDE naming a token file that lives as long
# as the command; a value leaked into another environment names none, so
# it changes nothing.
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
tokens=$(cd "$tools/.." && pwd)/build/windows-side

if [ "${1:-}" = --inside ]; then
  token=${HALVEX_WINDOWS_SIDE:-}
  [ "$(dirname "$token")" = "$tokens" ] && [ -f "$token" ]
  exit
fi

if ! "$tools/runs-32-bit-programs.sh"; then
  if [ "${HALVEX_EMULATED_MACHINE:-}" = inside ]; then
    echo "windows-side: the emulated machine runs no 32-bit programs either" >&2
    exit 126
  fi
  exec "$tools/emulated-machine.sh" "$tools/windows-side.sh" "$@"
fi
[ -n "${DISPLAY:-}" ] || exec "$tools/virtual-display.sh" "$tools/windows-side.sh" "$@"

build=$tools/../build/windows
mkdir -p "$tokens"
token=$(mktemp "$tokens/token.XXXXXXXX")
# Wine's processes end before the virtual display does; the token goes
# however the run ends.
trap '"$tools/wine-run.sh" --stop "$build"; rm -f "$token"' EXIT
"$tools/wine-run.sh" --serve "$build"
HALVEX_WINDOWS_SIDE=$token "$@"
