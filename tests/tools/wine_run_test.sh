#!/bin/sh
# tools/wine-run.sh on a test ground that is not its own: a prefix named by
# HALVEX_WINEPREFIX that it did not make is refused and left as it was, and
# a build folder that is missing is named, not taken for "/", and one of its
# own whose registry a killed run left empty is made anew. Started by
# the Windows side's runner (--from-runner), a Windows program is given a
# Cyrillic file name from an environment with no locale at all.
# Usage: wine_run_test.sh SOURCE_DIR [--from-runner WINDOWS_PACKER]
set -eu
runner=$1/tools/wine-run.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

if [ "${2:-}" = --from-runner ]; then
  cd "$work"
  printf 'log lines\n' >"Журнал.txt"
  env -i PATH="$PATH" HOME="$HOME" ${DISPLAY:+DISPLAY="$DISPLAY"} \
    ${XAUTHORITY:+XAUTHORITY="$XAUTHORITY"} \
    "$runner" "$3" compress "Журнал.txt" "Журнал.tx_" >"$work/out" 2>&1 ||
    fail "without a locale: $(cat "$work/out")"
  [ -s "Журнал.tx_" ] || fail "no Журнал.tx_ was written"
  echo "wine-run: names outside ASCII reach Windows without a locale"
  exit 0
fi

mkdir "$work/own-prefix"
echo keep >"$work/own-prefix/user.reg"
HALVEX_WINEPREFIX=$work/own-prefix "$runner" --prepare "$work" 2>"$work/err" &&
  fail "a prefix it did not make was taken"
[ "$(cat "$work/own-prefix/user.reg")" = keep ] && [ ! -e "$work/own-prefix/.halvex-made" ] ||
  fail "a prefix it did not make was changed"
grep -q 'not a prefix of this project' "$work/err" || fail "no reason given: $(cat "$work/err")"

"$runner" --serve "$work/no-build" 2>"$work/err" && fail "a missing build folder was taken"
grep -q "no build folder '$work/no-build'" "$work/err" || fail "no reason given: $(cat "$work/err")"
# A prefix of its own whose registry a killed run left empty is made anew;
# Wine's tools are stand-ins found by name, which write a whole registry.
mkdir "$work/bin" "$work/cut-prefix"
cat >"$work/bin/wineboot" <<'EOF'
#!/bin/sh
for f in system user userdef; do echo whole >"$WINEPREFIX/$f.reg"; done
EOF
printf '#!/bin/sh\n' >"$work/bin/wine"
cp "$work/bin/wine" "$work/bin/wineserver"
chmod +x "$work/bin/"*
touch "$work/cut-prefix/.halvex-made" "$work/cut-prefix/.halvex-ready" \
  "$work/cut-prefix/user.reg" "$work/cut-prefix/userdef.reg"
echo whole >"$work/cut-prefix/system.reg"
PATH="$work/bin:$PATH" HALVEX_WINEPREFIX=$work/cut-prefix "$runner" --prepare "$work" ||
  fail "a prefix with a cut registry was not made anew"
[ "$(cat "$work/cut-prefix/user.reg")" = whole ] && [ -f "$work/cut-prefix/.halvex-ready" ] ||
  fail "the prefix's registry is still cut"

echo "wine-run: foreign prefixes and missing build folders refused, cut prefixes remade"
