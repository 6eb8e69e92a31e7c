#!/usr/bin/env bash
# The general-purpose attacker: Debian's pocketsphinx (US English model) with a grammar of exactly
# as many digits as the number has, over repeatable sounds from the tool (--seed). Reports the
# exact-number and per-digit rates at every Noise level.
#   bench/pocketsphinx_attack.sh [vexorin tool = build/native/vexorin] [numbers = 200] [digits = 6]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "${1:-$root/build/native/vexorin}")
numbers=${2:-200}
digits=${3:-6}
model=/usr/share/pocketsphinx/model/en-us
command -v pocketsphinx_batch >/dev/null && [ -d "$model" ] ||
  { echo "pocketsphinx_attack: needs pocketsphinx and pocketsphinx-en-us (scripts/setup-native.sh)" >&2; exit 1; }
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
{
  echo '#JSGF V1.0;'
  echo 'grammar digits;'
  printf 'public <number> ='; for _ in $(seq "$digits"); do printf ' <digit>'; done; echo ';'
  echo '<digit> = zero | oh | one | two | three | four | five | six | seven | eight | nine;'
} >"$work/digits.gram"
echo "pocketsphinx ($(dpkg-query -W -f='${Version}' pocketsphinx 2>/dev/null)), $numbers numbers of $digits digits per level"
printf '%-6s %8s %10s\n' Noise 'exact %' 'digits %'
for level in 0 1 2 3 4; do
  : >"$work/ctl"; : >"$work/truth"
  for i in $(seq 0 $((numbers - 1))); do
    "$tool" --audio -d "$digits" --noise-level "$level" --seed $((level * 100000 + i)) -o "$work/$i.wav" >>"$work/truth"
    echo "$i" >>"$work/ctl"
  done
  pocketsphinx_batch -adcin yes -adchdr 44 -cepdir "$work" -cepext .wav -ctl "$work/ctl" -jsgf "$work/digits.gram" \
    -dict "$model/cmudict-en-us.dict" -hmm "$model/en-us" -hyp "$work/hyp" -logfn /dev/null
  # Each hypothesis line: words, then "(id score)"; in the order of the control file.
  paste -d'|' "$work/truth" "$work/hyp" | awk -F'|' -v n="$digits" '
    BEGIN { split("zero one two three four five six seven eight nine", w, " "); for (i = 1; i <= 10; i++) d[w[i]] = i - 1; d["oh"] = 0 }
    { heard = ""; k = split($2, words, " ")
      for (i = 1; i <= k; i++) if (words[i] in d) heard = heard d[words[i]]
      if (heard == $1) exact++
      for (i = 1; i <= n; i++) if (substr(heard, i, 1) == substr($1, i, 1)) right++
      total++ }
    END { printf "%-6d %8.1f %10.1f\n", level, 100 * exact / total, 100 * right / (total * n) }' level="$level"
done
