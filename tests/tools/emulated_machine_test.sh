#!/usr/bin/env bash
# The emulated machine from a checkout whose path holds blanks, under /tmp
# (which the machine binds from the host): one case per run.
#   blank-path  the command runs in its folder with its arguments, and its
#               output, files and status come back
#   TERM, INT   a run stopped by the signal leaves no process behind
#   time-limit  a guest that outlasts HALVEX_EMULATED_MACHINE_LIMIT is
#               stopped, and the run fails with status 124
# Usage: emulated_machine_test.sh SOURCE_DIR CASE
set -euo pipefail
src=$1 case=$2
work=$(mktemp -d "/tmp/halvex emulated.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

checkout="$work/check out"
mkdir -p "$checkout/tools" "$checkout/sub dir"
cp "$src/tools/emulated-machine.sh" "$src/tools/emulated-machine-init.sh" "$checkout/tools/"
machine=$checkout/tools/emulated-machine.sh
cd "$checkout/sub dir"

# Every process below PID, from the kernel's lists of children.
descendants() {
  local child
  for child in $(cat /proc/"$1"/task/*/children 2>/dev/null); do
    echo "$child"
    descendants "$child"
  done
}
alive() { [ -e "/proc/$1" ] && ! grep -q '^State:[[:space:]]*Z' "/proc/$1/status" 2>/dev/null; }

# Starts a guest that says "started" and then sleeps; waits for the word.
start_sleeper() {
  # Job control: the run is not started with SIGINT ignored, as a
  # background job of a script would be.
  set -m
  "$machine" sh -c 'echo started; exec sleep 600' >"$work/out" 2>&1 &
  run=$!
  set +m
  for _ in $(seq 300); do
    grep -qx started "$work/out" && return
    alive "$run" || fail "the run ended before its command started: $(cat "$work/out")"
    sleep 1
  done
  fail "the command did not start: $(cat "$work/out")"
}

case $case in
  blank-path)
    status=0
    "$machine" sh -c 'pwd; printf %s "$1" >"written here"; exit 7' - "an argument" \
      >"$work/out" 2>&1 || status=$?
    [ "$status" = 7 ] || fail "status $status, not 7: $(cat "$work/out")"
    [ "$(cat "$work/out")" = "$checkout/sub dir" ] || fail "ran elsewhere: $(cat "$work/out")"
    [ "$(cat "written here")" = "an argument" ] || fail "the file written in the guest is not here"
    ;;
  TERM | INT)
    start_sleeper
    processes=$(descendants "$run")
    [ -n "$processes" ] || fail "no machine was running"
    kill -"$case" "$run"
    status=0
    wait "$run" || status=$?
    [ "$status" != 0 ] || fail "a stopped run succeeded"
    for p in $processes; do
      ! alive "$p" || fail "left running after SIG$case: $(tr '\0' ' ' <"/proc/$p/cmdline")"
    done
    for left in "$checkout"/build/emulated-machine/job.*; do
      [ ! -e "$left" ] || fail "job folder left: $left"
    done
    ;;
  time-limit)
    status=0
    HALVEX_EMULATED_MACHINE_LIMIT=90 "$machine" sh -c 'echo started; exec sleep 600' \
      >"$work/out" 2>&1 || status=$?
    [ "$status" = 124 ] || fail "status $status, not 124: $(cat "$work/out")"
    grep -qx started "$work/out" || fail "the guest never ran its command: $(cat "$work/out")"
    grep -q "ran past its limit of 90 s" "$work/out" || fail "no word of the limit: $(cat "$work/out")"
    ;;
  *) fail "no case $case" ;;
esac
echo "emulated machine, $case: ok"
