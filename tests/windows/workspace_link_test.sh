#!/usr/bin/env bash
# A workspace that is a symbolic link is never written through: someone who
# can create «<temporary path>\Halvex» as a link to another folder must not
# get "setup.ex_" or "setup.exe" created there. The link is a real one, made
# on the host, where Wine sees it as a reparse point; the same layout with a
# real folder shows that the pipeline works when the workspace is its own.
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

extract_into() {  # TEMPORARY_PATH: the launcher's box texts on stderr
  "$wine_run" "$extract" "Z:$archive" "Z:$work/given.exe" "Z:$1" 2>"$work/err"
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

echo "a linked workspace is refused; the user's own is used"
