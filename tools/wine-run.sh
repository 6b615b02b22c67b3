#!/usr/bin/env bash
# Runs a Windows program under Wine (32-bit) in a prefix of its own, made once
# per build tree, on a virtual display when none is set.
# Usage: wine-run.sh PROGRAM.exe [ARGS...]
#        wine-run.sh --prepare BUILD_DIR   (only make the prefix)
#        wine-run.sh --serve BUILD_DIR     (make the prefix, keep one server up)
#        wine-run.sh --stop BUILD_DIR      (end that server and its programs)
# The prefix is $HALVEX_WINEPREFIX, else wineprefix/ beside the build tree's
# CMakeCache.txt found above the program, else build/wineprefix.
set -euo pipefail

if ! command -v wine >/dev/null 2>&1; then
  echo "wine-run: wine is not installed; run tools/setup.sh" >&2
  exit 127
fi

find_prefix() {
  local dir
  dir=$(cd "$(dirname "$1")" && pwd)
  while [ "$dir" != / ]; do
    if [ -f "$dir/CMakeCache.txt" ]; then echo "$dir/wineprefix"; return; fi
    dir=$(dirname "$dir")
  done
  echo "$(cd "$(dirname "$0")/.." && pwd)/build/wineprefix"
}

case "${1:-}" in --prepare | --serve | --stop) mode=$1 ;; *) mode=run ;; esac
if [ -n "${HALVEX_WINEPREFIX:-}" ]; then
  WINEPREFIX=$HALVEX_WINEPREFIX
elif [ "$mode" != run ]; then
  if [ ! -d "${2:-}" ]; then
    echo "wine-run: no build folder '${2:-}'; configure and build first" >&2
    exit 2
  fi
  WINEPREFIX=$(cd "$2" && pwd)/wineprefix
else
  WINEPREFIX=$(find_prefix "$1")
fi
export WINEPREFIX
# Wine converts its arguments and the host's paths through the locale it
# starts in; with none set that is ASCII, and every name outside it is lost.
# A UTF-8 locale of the caller's is kept, any other gives way to C.UTF-8,
# which Debian's libc always has.
if [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then export LC_ALL=C.UTF-8; fi
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installers: the tests need neither.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# Made, and with Wine's registry whole: a run killed with the emulated
# machine can leave its files empty, and Wine then starts without the
# prefix's settings (the unmanaged windows among them) instead of failing.
prefix_ready() {
  [ -f "$WINEPREFIX/.halvex-ready" ] && [ -s "$WINEPREFIX/system.reg" ] &&
    [ -s "$WINEPREFIX/user.reg" ] && [ -s "$WINEPREFIX/userdef.reg" ]
}

make_prefix() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  # On a loaded machine, and more so in the emulated one, a step can fail
  # for time alone: the prefix is made anew, a few times at most.
  # Only a prefix this script began (its .halvex-made is the proof) is ever
  # removed: one named by HALVEX_WINEPREFIX may be someone's own, ~/.wine say.
  if [ ! -f "$WINEPREFIX/.halvex-ready" ] && [ ! -f "$WINEPREFIX/.halvex-made" ] &&
    [ -n "$(ls -A "$WINEPREFIX" 2>/dev/null)" ]; then
    echo "wine-run: $WINEPREFIX is not a prefix of this project's; name a new folder" >&2
    return 1
  fi
  local attempt
  for attempt in 1 2 3; do
    prefix_ready && break
    [ ! -f "$WINEPREFIX/.halvex-made" ] || rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    touch "$WINEPREFIX/.halvex-made"
    # One server for all the steps, up until some seconds after the last:
    # an idle one shuts down after three, and a program started in that
    # moment dies with "recvmsg: Connection reset by peer".
    if wineserver -p10 && wineboot -i >/dev/null 2>&1 &&
      # Without a window manager Wine waits at every process exit unless
      # its windows are unmanaged.
      wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 &&
      wineserver -w; then
      touch "$WINEPREFIX/.halvex-ready"
    else
      echo "wine-run: making the Wine prefix failed (attempt $attempt)" >&2
      wineserver -k 2>/dev/null || true
    fi
  done
  flock -u 9
  prefix_ready
}

stop_server() { wineserver -k 2>/dev/null || true; }

[ "$mode" = --stop ] || prefix_ready || make_prefix
case $mode in
  --prepare) exit 0 ;;
  # A server left idle shuts itself down after a few seconds, and a program
  # that starts in that moment dies with "recvmsg: Connection reset by peer".
  # A run of many programs keeps one server up for its whole length instead,
  # in place of any server left from before. Its system processes live as
  # long and keep the output of the program that started them open, so they
  # are started here, writing nowhere: a caller reading a program's output to
  # its end would otherwise wait for them.
  --serve)
    stop_server
    wineserver -p
    wineboot </dev/null >/dev/null 2>&1
    exit 0
    ;;
  --stop) stop_server; exit 0 ;;
esac

exec "$(dirname "$0")/virtual-display.sh" wine "$@"
