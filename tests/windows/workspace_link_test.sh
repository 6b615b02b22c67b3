#!/usr/bin/env bash
# A workspace that is a symbolic link is never written through: someone who
# can create «<temporary path>\Halvex» as a link to another folder must not
# get "setup.ex_" or "setup.exe" created there, neither before the run nor by
# swapping the workspace for a link while the run goes on. The links are real
# ones, made on the host, where Wine sees them as reparse points; the same
# layout with a real folder shows that the pipeline works when the workspace
# is its own.
# Usage: workspace_link_test.sh WINE_RUN LAUNCHER_EXTRACT SELF_ARCHIVE SETUP_PROGRAM
set -euo pipefail
wine_run=$1 extract=$2 archive=$3 setup=$4
work=$(mktemp -d "$(dirname "$extract")/workspace-link.XXXXXX")
trap 'rm -rf "$work"' EXIT
export HALVEX_WINEPREFIX=$(dirname "$extract")/../../wineprefix
fail() { echo "FAIL: $*" >&2; exit 1; }

# The folder the link leads to, with a file the launcher would overwrite.
mkdir -p "$work/temp" "$work/target"
printf 'a file of someone else\n' >"$work/target/setup.exe"
cp "$work/target/setup.exe" "$work/target.before"

extract_into() {  # TEMPORARY_PATH [SWAP_IN]: the box texts on stderr
  "$wine_run" "$extract" "Z:$archive" "Z:$work/given.exe" "Z:$1" \
    ${2:+"Z:$2"} 2>"$work/err"
}

ln -s "$work/target" "$work/temp/Halvex"
extract_into "$work/temp" && fail "the launcher used a workspace that is a link"
grep -q "Error creating temporary directory." "$work/err" ||
  fail "no 'Error creating temporary directory.' box: $(cat "$work/err")"
cmp -s "$work/target/setup.exe" "$work/target.before" ||
  fail "the launcher wrote through the link"
[ "$(ls "$work/target")" = setup.exe ] || fail "files appeared behind the link: $(ls "$work/target")"
[ -L "$work/temp/Halvex" ] || fail "the link was removed"

rm "$work/temp/Halvex"
mkdir "$work/temp/Halvex"
extract_into "$work/temp" || fail "the user's own workspace was refused: $(cat "$work/err")"
cmp "$setup" "$work/given.exe" || fail "the setup program came out wrong"

# The judged workspace is held: it cannot be moved aside for a link while
# "setup.ex_" is being created, and nothing lands behind the link.
rm -rf "$work/temp/Halvex" "$work/given.exe"
ln -s "$work/target" "$work/temp/swap-in"
extract_into "$work/temp" "$work/temp/swap-in" ||
  fail "the run with a swap attempt failed: $(cat "$work/err")"
grep -q "swap refused" "$work/err" || fail "the workspace was swapped: $(cat "$work/err")"
cmp "$setup" "$work/given.exe" || fail "the setup program came out wrong"
cmp -s "$work/target/setup.exe" "$work/target.before" ||
  fail "the launcher wrote through the swapped-in link"
[ "$(ls "$work/target")" = setup.exe ] || fail "files appeared behind the link: $(ls "$work/target")"
[ -L "$work/temp/swap-in" ] || fail "the link was moved"
echo "a linked workspace is refused, a judged one cannot be swapped; the user's own is used"
