#!/usr/bin/env bash
# The command-line tool end to end: options, exit codes, repeatable pictures, PGM output.
# usage: cli_test.sh <vexorin executable> [runner, e.g. wine]
set -u
tool=$1; shift
runner=("$@")
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
check() {  # description, command...
  local what=$1; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
run() { "${runner[@]}" "$tool" "$@"; }
status_of() { run "$@" >out.txt 2>err.txt; echo $?; }

check "help exits 0" test "$(status_of --help)" = 0
check "help shows usage" grep -q "usage: vexorin" out.txt
check "unknown option is a usage error" test "$(status_of --bogus)" = 2
check "the message names the option" grep -q "bogus" err.txt
check "digits 0 is a usage error" test "$(status_of --digits 0)" = 2
check "digits 10 is a usage error" test "$(status_of -d 10)" = 2
check "bad seed is a usage error" test "$(status_of --seed 4294967296)" = 2
check "unknown format is a usage error" test "$(status_of -f png)" = 2

check "default run writes captcha.jpg" test "$(status_of --seed 12)" = 0
check "default picture is a JPEG" bash -c "head -c 2 captcha.jpg | od -An -tx1 | grep -q 'ff d8'"
check "it prints an 8-digit number only" grep -Eqx '[0-9]{8}' <(tr -d '\r' < out.txt)

run --seed 4000000000 -d 6 --noise -H 44 -o a.jpg >a.txt 2>/dev/null
run --seed 4000000000 -d 6 --noise -H 44 -o b.jpg >b.txt 2>/dev/null
check "same seed, same number" cmp -s a.txt b.txt
check "same seed, same bytes" cmp -s a.jpg b.jpg
check "six digits" grep -Eqx '[0-9]{6}' <(tr -d '\r' < a.txt)
run --seed 4000000001 -d 6 --noise -H 44 -o c.jpg >c.txt 2>/dev/null
check "another seed, another number" bash -c "! cmp -s a.txt c.txt"
check "another seed, another picture" bash -c "! cmp -s a.jpg c.jpg"

check "number option is shown as given" test "$(run -n 0042 --seed 1 -o n.jpg 2>/dev/null | tr -d '\r')" = 0042
check "pgm output" test "$(status_of -n 123 -H 20 -f pgm -o p.pgm)" = 0
check "pgm header and size" bash -c "head -c 13 p.pgm | tr '\n' ' ' | grep -q '^P5 30 20 255 ' && test \$(stat -c %s p.pgm) = \$((13 + 600))"

check "refused number fails with its HRESULT" test "$(status_of -n abc)" = 1
check "the message carries E_INVALIDARG" grep -q "0x80070057" err.txt
check "unwritable output fails" test "$(status_of -o "$work/no/such/dir/x.jpg")" = 1
check "the message carries E_FAIL" grep -q "0x80004005" err.txt
check "  ... and says why in words" grep -q "directory does not exist" err.txt
check "nothing printed on failure" test ! -s out.txt
check "a picture too large fails" test "$(status_of -H 99999999 -o big.jpg)" = 1
check "  ... and says so" grep -q "picture is too large" err.txt
check "  ... printing nothing and writing no file" bash -c "test ! -s out.txt && test ! -e big.jpg"
check "a negative number fails" test "$(status_of -n -5 -o neg.jpg)" = 1
check "  ... in words" grep -q "negative number" err.txt
if [ ${#runner[@]} -eq 0 ]; then  # bytes that are no UTF-8 would name another file
  check "a file name that is no text fails" test "$(status_of -o "$(printf 'odd\377name.jpg')")" = 1
  check "and writes no file" test -z "$(ls | grep 'name.jpg')"
fi

run --seed 77 -d 7 -o file.jpg >file.txt 2>/dev/null
run --seed 77 -d 7 -o - >stdout.jpg 2>stderr.txt
check "-o - sends the same JPEG bytes to standard output" cmp -s file.jpg stdout.jpg
check "-o - sends the number to standard error" cmp -s <(tr -d '\r' < file.txt) <(tr -d '\r' < stderr.txt)
check "-o - leaves no file named -" test ! -e ./-

# One rule for every option's value: "--name value" and "--name=value" mean the same.
run --seed=31 --digits=5 --height=41 --noise --format=pgm --output=eq.pgm >eq.txt 2>/dev/null
run --seed 31 --digits 5 --height 41 --noise --format pgm --output sp.pgm >sp.txt 2>/dev/null
check "--x=v and --x v: the same number" bash -c "test -s eq.txt && cmp -s eq.txt sp.txt"
check "--x=v and --x v: the same picture" bash -c "test -s eq.pgm && cmp -s eq.pgm sp.pgm"
run --audio --seed=6 --noise-level=0 -o=eq.wav >/dev/null 2>&1
check "a short option takes no '='" test ! -e eq.wav
check "a flag takes no value" test "$(status_of --noise=1)" = 2
check "  ... and the message says so" grep -q "takes no value" err.txt
check "a value missing at the end is a usage error" test "$(status_of -H)" = 2
check "--challenge with --x=v values" test "$(status_of --challenge --cost=150 --expires=60 --bind=s1 --secret=k1)" = 0
check "  ... uses them" grep -q '"attempts":31' out.txt
check "--challenge with --x v values, the same way" test "$(status_of --challenge --cost 150 --expires 60 --bind s1 --secret k1)" = 0
check "  ... uses them" grep -q '"attempts":31' out.txt
check "--verify=P reads the payload" test "$(status_of --verify=bm90IGpzb24= --secret=k1)" = 1
check "  ... and says why it is refused" grep -qx "malformed" <(tr -d '\r' < out.txt)
# A client that keeps asking pays more, within one process (a batch); --verify holds to its --cost.
for i in $(seq 20); do echo "--challenge --cost 100 --max-cost 400 --client 192.0.2.7 --secret k1"; done >asks.txt
run --batch asks.txt >asks.out 2>/dev/null
check "a client's price rises with its asking, to --max-cost" \
  bash -c "grep -c '\"attempts\":21}' asks.out | grep -qx 8 && tail -n 1 asks.out | grep -q '\"attempts\":82}'"
cheap=$(printf '{"challenge":%s,"solution":{"counter":0,"derivedKey":"00"}}' "$(head -n 1 asks.out | tr -d '\r')" | base64 -w0)
run --verify "$cheap" --cost 200 --secret k1 >out.txt 2>/dev/null
check "--verify refuses a challenge made cheaper than its --cost" grep -qx "cost too low" <(tr -d '\r' < out.txt)
check "a picture option with --challenge is a usage error" test "$(status_of --challenge -H 40)" = 2
check "--bind without --challenge or --verify is a usage error" test "$(status_of --bind x)" = 2
check "two modes at once are a usage error" test "$(status_of --audio --challenge)" = 2

# --audio: the number spoken as a WAV file.
check "audio writes captcha.wav" test "$(status_of --audio --seed 5)" = 0
check "it is a RIFF WAVE file" bash -c "head -c 12 captcha.wav | od -An -c | tr -d ' ' | grep -q 'RIFF.*WAVE'"
check "it prints a 6-digit number only" grep -Eqx '[0-9]{6}' <(tr -d '\r' < out.txt)
run --audio --seed 8 -d 4 --noise-level 1 -o a.wav >a.txt 2>/dev/null
run --audio --seed 8 -d 4 --noise-level 1 -o b.wav >b.txt 2>/dev/null
run --audio --seed 9 -d 4 --noise-level 1 -o c.wav >c.txt 2>/dev/null
check "audio: same seed, same number and bytes" bash -c "cmp -s a.txt b.txt && cmp -s a.wav b.wav"
check "audio: four digits" grep -Eqx '[0-9]{4}' <(tr -d '\r' < a.txt)
check "audio: another seed, other bytes" bash -c "! cmp -s a.wav c.wav"
run --audio -n 0710 --seed 3 -o file.wav >file.txt 2>/dev/null
run --audio -n 0710 --seed 3 -o - >stdout.wav 2>stderr.txt
check "audio: -o - sends the same WAV bytes to standard output" cmp -s file.wav stdout.wav
check "audio: the given number, on standard error with -o -" test "$(tr -d '\r' < stderr.txt)" = 0710
check "audio: a number with a letter fails with E_INVALIDARG" test "$(status_of --audio -n 12x4)" = 1
check "audio: the message carries E_INVALIDARG" grep -q "0x80070057" err.txt
check "audio: noise level 5 is a usage error" test "$(status_of --audio --noise-level 5)" = 2
check "audio: picture options are usage errors" test "$(status_of --audio -H 40)" = 2
check "noise level without --audio is a usage error" test "$(status_of --noise-level 1)" = 2

if [ $failures -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "all checks passed"
