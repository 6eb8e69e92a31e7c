#!/usr/bin/env bash
# The real widget in a real browser: Debian's chromium loads a page with the pinned altcha widget
# (its one file, as a site copies it), whose challenge the component makes at each request; the
# widget solves it and the payload it produces must verify once, and then be refused as replayed.
# Bindings in three scripts: the widget's btoa takes only Latin-1, and JSON.parse/stringify in between.
# Served on 127.0.0.1 by browser.mjs, which waits for the page's answer (a hang only ends it).
# usage: browser_work_test.sh native TOOL
#        browser_work_test.sh wine LOADER     (the registered DLL through cscript; Wine's environment set)
set -u
here=$(dirname "$(realpath "$0")")
mode=$1 runner=$2
driver=$here/browser.mjs
if ! command -v chromium >/dev/null || [ ! -d "$here/node_modules/altcha" ]; then
  echo "chromium or the pinned widget is missing (scripts/setup-native.sh installs both)"; exit 1
fi
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
cp "$here/pages/altcha.html" "$here/node_modules/altcha/dist/main/altcha.js" "$work/"
secret="browser-test-secret"  # a --batch line splits at spaces
failures=0
check() {
  local what=$1; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
# JScript's unescape() form of a text, so that the script's arguments stay ASCII whatever Wine's locale.
escaped() { node -e 'process.stdout.write(escape(process.argv[1]))' "$1"; }
# The last case: a challenge at a raised price, a client's ninth in one process.
for binding in "session 5" "sesión" "セッション" "raised"; do
  case "$mode" in
    native)
      challenge=$(printf '%q ' "$runner" --challenge --secret "$secret" --bind "$binding")
      if [ "$binding" = raised ]; then
        for i in $(seq 9); do printf -- '--challenge --secret %s --bind raised --client 192.0.2.7\n' "$secret"; done >"$work/raised.txt"
        challenge="$(printf '%q' "$runner") --batch $(printf '%q' "$work/raised.txt") | tail -n 1"
      fi
      verify() { "$runner" --verify "$1" --secret "$secret" --bind "$binding"; "$runner" --verify "$1" --secret "$secret" --bind other; } ;;
    wine)
      script=$(cd "$here" && pwd)/work.js
      wine_cscript() { (cd "$(dirname "$script")" && bash "$here/../../scripts/wine.sh" run "$runner" cscript //nologo work.js "$@") | tr -d '\r'; }
      action=challenge; [ "$binding" = raised ] && action=raised
      challenge="cd $(printf '%q' "$here") && bash $(printf '%q' "$here/../../scripts/wine.sh") run $(printf '%q' "$runner") cscript //nologo work.js $action $(printf '%q' "$secret") $(printf '%q' "$(escaped "$binding")") | tr -d '\r' | grep '^{'"
      verify() { wine_cscript verify "$secret" "$(escaped "$binding")" "$1" | grep -v '^work.js$'; wine_cscript verify "$secret" other "$1" | grep -v '^work.js$' | head -1; } ;;
    *) echo "usage: browser_work_test.sh native TOOL | wine LOADER"; exit 2 ;;
  esac
  answer=$(node "$driver" "$work" altcha.html --timeout 600 --route "challenge.json=$challenge")
  state=$(printf '%s' "$answer" | node -e 'let s="";process.stdin.on("data",d=>s+=d).on("end",()=>{try{console.log(JSON.parse(s).state)}catch{console.log("no answer")}})')
  payload=$(printf '%s' "$answer" | node -e 'let s="";process.stdin.on("data",d=>s+=d).on("end",()=>{try{console.log(JSON.parse(s).payload||"")}catch{}})')
  echo "     [$binding] the widget answered: ${answer:0:160}"
  check "[$binding] the widget solves the component's challenge" test "$state" = verified
  if [ "$binding" = raised ]; then
    cost=$(printf '%s' "$payload" | base64 -d 2>/dev/null | node -e 'let s="";process.stdin.on("data",d=>s+=d).on("end",()=>{try{console.log(JSON.parse(s).challenge.parameters.cost)}catch{}})')
    check "[raised] its price was raised (cost $cost)" test "${cost:-0}" = 40000
  fi
  outcome=$(verify "$payload" | tr '\n' '|')
  echo "     [$binding] the component said: $outcome"
  case "$mode" in
    native) expected="verified|invalid binding|" ;;
    wine) expected="verified true|replayed false|invalid binding false|" ;;
  esac
  check "[$binding] its payload verifies once, then is refused (replayed, other session)" test "$outcome" = "$expected"
done
if [ $failures -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "all checks passed"
