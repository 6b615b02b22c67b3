#!/usr/bin/env bash
# Runs a command on a virtual X display when none is set.
# Usage: virtual-display.sh COMMAND [ARGS...]
set -euo pipefail
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$@"
fi
exec "$@"
