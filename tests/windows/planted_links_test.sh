#!/usr/bin/env bash
# Links planted where the launcher would write are never written through.
# The links are real ones, made on the host, where Wine sees them as
# reparse points (symbolic) or as files of more than one link (hard).
# - «<temporary path>\Halvex» as a link to another folder: the run works in
#   a fresh sibling, and the link and the folder behind it stay as they were.
# - The log (/LOG=) as a dangling symbolic link or a hard link: the run goes
#   on without a log, and nothing is written or created behind it. (A
#   symbolic link to an existing file Wine shows as that file itself, to
#   the search and to the open entry alike, and opens it whatever the
#   flags say; the run log's tests take that case through the platform
#   layer.)
# Usage: planted_links_test.sh WINE_RUN LAUNCHER_EXTRACT SELF_ARCHIVE SETUP_PROGRAM
set -euo pipefail
wine_run=$1 extract=$2 archive=$3 setup=$4
work=$(mktemp -d "$(dirname "$extract")/planted-links.XXXXXX")
trap 'rm -rf "$work"' EXIT
export HALVEX_WINEPREFIX=$(dirname "$extract")/../../wineprefix
fail() { echo "FAIL: $*" >&2; exit 1; }

# The folder the link leads to, with a file the launcher would overwrite.
mkdir -p "$work/temp" "$work/target"
printf 'a file of someone else\n' >"$work/target/setup.exe"
cp "$work/target/setup.exe" "$work/target.before"
ln -s "$work/target" "$work/temp/Halvex"
"$wine_run" "$extract" "Z:$archive" "Z:$work/given.exe" "Z:$work/temp" 2>"$work/err" ||
  fail "no run beside a linked Halvex: $(cat "$work/err")"
cmp "$setup" "$work/given.exe" || fail "the setup program came out wrong"
cmp -s "$work/target/setup.exe" "$work/target.before" || fail "the launcher wrote through the link"
[ "$(ls "$work/target")" = setup.exe ] || fail "files appeared behind the link: $(ls "$work/target")"
[ -L "$work/temp/Halvex" ] || fail "the link was removed"
[ "$(ls "$work/temp")" = Halvex ] || fail "the run left: $(ls "$work/temp")"

# The archive runs silently; its sample setup program ends at once.
mkdir "$work/logs"
cp "$work/target/setup.exe" "$work/logs/theirs.txt"
run_with_log() {
  HALVEX_SAMPLE_SHOW_MS=10 "$wine_run" "$archive" /S "/LOG=Z:$work/logs/setup.log" ||
    fail "the run with a planted log failed ($?)"
}
for planted in dangling hard; do
  rm -f "$work/logs/setup.log" "$work/logs/created.txt"
  case $planted in
    dangling) ln -s "$work/logs/created.txt" "$work/logs/setup.log" ;;
    hard) ln "$work/logs/theirs.txt" "$work/logs/setup.log" ;;
  esac
  run_with_log
  cmp -s "$work/logs/theirs.txt" "$work/target.before" || fail "$planted: the log was written through"
  [ ! -e "$work/logs/created.txt" ] || fail "$planted: a file was created behind the link"
done
# The same log as a plain file of its own is written.
rm -f "$work/logs/setup.log"
run_with_log
grep -q ' exit code: 0' "$work/logs/setup.log" || fail "a plain log was not written"

echo "planted links are never written through"
