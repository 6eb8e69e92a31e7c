#!/usr/bin/env bash
# A real browser plays what GetAudio gives: Debian's chromium, headless, loads the tool's GetAudio
# bytes (-o -) in an <audio> element, and the duration it reports must be the WAV header's.
# The page is driven by browser.mjs, which waits for the page's answer (a hang only ends it).
# usage: browser_audio_test.sh <vexorin tool>
set -u
tool=$(realpath "$1")
driver=$(dirname "$(realpath "$0")")/browser.mjs
if ! command -v chromium >/dev/null || [ ! -d "$(dirname "$driver")/node_modules/playwright-core" ]; then
  echo "chromium or the pinned browser driver is missing (scripts/setup-native.sh installs both)"; exit 1
fi
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
failures=0
check() {
  local what=$1; shift
  if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
cat >"$work/page.html" <<'HTML'
<!DOCTYPE html>
<html><body>
<audio id="sound" preload="auto" src="speech.wav"></audio>
<script>
const sound = document.getElementById("sound");
window.answer = new Promise((resolve) => {
  sound.addEventListener("canplaythrough", () => resolve("duration=" + sound.duration));
  sound.addEventListener("error", () => resolve("error=" + (sound.error ? sound.error.code : "?")));
});
</script></body></html>
HTML
for case in "0 0710" "3 480613" "4 123456789"; do
  set -- $case
  level=$1 number=$2
  "$tool" --audio -n "$number" --noise-level "$level" --seed 42 -o - >"$work/speech.wav" 2>/dev/null
  # Samples from the header's data size: 2 bytes each, 16000 a second.
  data=$(od -An -tu4 -j40 -N4 "$work/speech.wav" | tr -d ' ')
  expected=$(awk -v b="$data" 'BEGIN { printf "%.6f", b / 2 / 16000 }')
  answer=$(node "$driver" "$work" page.html --timeout 600)
  reported=$(printf '%s' "$answer" | sed -n 's/^"duration=\([0-9.]*\)"$/\1/p')
  echo "     Noise $level, $number: header $expected s, browser '${answer}'"
  check "Noise $level, $number: the browser plays it" test -n "$reported"
  check "Noise $level, $number: for the header's duration" \
    awk -v a="${reported:-0}" -v b="$expected" 'BEGIN { d = a - b; exit !(d < 0.001 && d > -0.001) }'
done
if [ $failures -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
echo "all checks passed"
