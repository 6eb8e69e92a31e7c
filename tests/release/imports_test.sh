#!/usr/bin/env bash
# Every DLL and function that a shipped Windows binary imports is in the allowed set for the oldest
# supported Windows (one committed file), read from the import tables with objdump -p.
# usage: imports_test.sh <allowed set> <binary>...     (OBJDUMP names the mingw objdump)
set -u
allowed_file=$1; shift
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
allowed=$(grep -v '^#' "$allowed_file" | awk 'NF == 2 {print tolower($1), $2}' | sort -u)
failures=0
for binary in "$@"; do
  # Import lines: "<vma> <hint> <name>" under each "DLL Name:", up to the blank line that ends the DLL.
  imports=$("$objdump" -p "$binary" | awk '
    /^\tDLL Name: / {dll = tolower($3); next}
    dll != "" && /^$/ {dll = ""; next}
    dll != "" && /^\t[0-9a-f]+\t +[0-9]+ +[^ ]+$/ {print dll, $3}' | sort -u)
  count=$(printf '%s\n' "$imports" | grep -c .)
  if [ "$count" -eq 0 ]; then
    echo "FAIL $binary: no imports read (objdump's format changed?)"; failures=$((failures + 1)); continue
  fi
  outside=$(comm -23 <(printf '%s\n' "$imports") <(printf '%s\n' "$allowed"))
  if [ -n "$outside" ]; then
    echo "FAIL $binary imports what the oldest supported Windows may lack:"
    printf '%s\n' "$outside" | sed 's/^/  /'
    failures=$((failures + 1))
  else
    echo "ok   $binary: $count imports from $(printf '%s\n' "$imports" | cut -d' ' -f1 | sort -u | tr '\n' ' ')"
  fi
done
[ $failures -eq 0 ] && echo "all checks passed"
[ $failures -eq 0 ]
