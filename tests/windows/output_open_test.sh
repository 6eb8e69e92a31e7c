#!/usr/bin/env bash
# Should a name reach a pipe after all, its server must not act as the caller: both classes open
# the output file with identification-only quality of service. Wine's trace of each CreateFileW
# shows the attributes asked for (SECURITY_SQOS_PRESENT 0x100000, SECURITY_IDENTIFICATION 0x10000
# in the impersonation level's bits 0x30000).
#   usage: output_open_test.sh COM_CLIENT_TEST_EXE     ($VEXORIN_WINE picks the loader)
set -uo pipefail
. "$(dirname "$0")/../../scripts/wine.sh"
echo "output_open_test"
trace=$(WINEDEBUG=trace+file wine_run "$VEXORIN_WINE" "$1" --gtest_also_run_disabled_tests \
  --gtest_filter=InChildProcess.DISABLED_SaveOnce 2>&1)
if [ $? -ne 0 ]; then
  printf '%s\n' "$trace" | grep -v ':trace:'
  echo "FAIL the program that saves failed"
  exit 1
fi
status=0
for leaf in vexorin-sqos.jpg vexorin-sqos.wav; do
  opens=$(printf '%s\n' "$trace" | grep -F ':trace:file:CreateFileW' | grep -F "$leaf\"" | grep -F GENERIC_WRITE)
  if [ -z "$opens" ]; then
    echo "FAIL no open of $leaf in Wine's trace"
    status=1
    continue
  fi
  while IFS= read -r line; do
    attributes=${line##*attributes 0x}
    if [ $((0x$attributes & 0x130000)) -eq $((0x110000)) ]; then
      echo "ok   $leaf opened with attributes 0x$attributes"
    else
      echo "FAIL $leaf opened with attributes 0x$attributes: $line"
      status=1
    fi
  done <<<"$opens"
done
exit $status
