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
# The last case: a challenge at the highest price, a client's 33rd in one process (MaxCost).
for binding in "session 5" "sesión" "セッション" "dearest"; do
  case "$mode" in
    native)
      challenge=$(printf '%q ' "$runner" --challenge --secret "$secret" --bind "$binding")
      if [ "$binding" = dearest ]; then
        for i in $(seq 33); do printf -- '--challenge --secret %s --bind dearest --client 192.0.2.7\n' "$secret"; done >"$work/dearest.txt"
        challenge="$(printf '%q' "$runner") --batch $(printf '%q' "$work/dearest.txt") | tail -n 1"
      fi
      verify() { "$runner" --verify "$1" --secret "$secret" --bind "$binding"; "$runner" --verify "$1" --secret "$secret" --bind other; } ;;
    wine)
      script=$(cd "$here" && pwd)/work.js
      wine_cscript() { (cd "$(dirname "$script")" && bash "$here/../../scripts/wine.sh" run "$runner" cscript //nologo work.js "$@") | tr -d '\r'; }
      action=challenge; [ "$binding" = dearest ] && action=dearest
      challenge="cd $(printf '%q' "$here") && bash $(printf '%q' "$here/../../scripts/wine.sh") run $(printf '%q' "$runner") cscript //nologo work.js $action $(printf '%q' "$secret") $(printf '%q' "$(escaped "$binding")") | tr -d '\r' | grep '^{'"
      verify() { wine_cscript verify "$secret" "$(escaped "$binding")" "$1" | grep -v '^work.js$'; wine_cscript verify "$secret" other "$1" | grep -v '^work.js$' | head -1; } ;;
    *) echo "usage: browser_work_test.sh native TOOL | wine LOADER"; exit 2 ;;
  esac
  answer=$(node "$driver" "$work" altcha.html --timeout 600 --route "challenge.json=$challenge")
  state=$(printf '%s' "$answer" | node -e 'let s="";process.stdin.on("data",d=>s+=d).on("end",()=>{try{console.log(JSON.parse(s).state)}catch{console.log("no answer")}})')
  payload=$(printf '%s' "$answer" | node -e 'let s="";process.stdin.on("data",d=>s+=d).on("end",()=>{try{console.log(JSON.parse(s).payload||"")}catch{}})')
  echo "     [$binding] the widget answered: ${answer:0:160}"
  check "[$binding] the widget solves the component's challenge" test "$state" = verified
  # The price is attempts at one small cost each: 4,096 at the default Cost, eight times that at MaxCost.
  attempts=$(printf '%s' "$payload" | base64 -d 2>/dev/null | node -e 'let s="";process.stdin.on("data",d=>s+=d).on("end",()=>{try{const p=JSON.parse(s).challenge.parameters;console.log(p.cost+" "+p.data.attempts)}catch{}})')
  if [ "$binding" = dearest ]; then
    check "[dearest] asked MaxCost ($attempts)" test "$attempts" = "1250 32768"
  else
    check "[$binding] asked the default Cost ($attempts)" test "$attempts" = "1250 4096"
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
