#!/bin/sh
# Checks that the program's own arithmetic, in main and in the stopwatch, is SSE2 double
# and never the x87 unit's, whose extended precision would change the report's digits.
# Usage: sse2_test.sh OBJDUMP PROGRAM
set -eu
fail() { echo "sse2_test: $*" >&2; exit 1; }

# The instructions of main and of SysTimer's members, by the names in the symbol table.
code=$("$1" -d -M intel --no-show-raw-insn "$2" | awk '
    /^[0-9a-f]+ <.*>:$/ { ours = $2 ~ /^<_?main>:$/ || $2 ~ /8SysTimer/; if (ours) print; next }
    ours && NF')
echo "$code" | grep -q '<_\{0,1\}main>:' || fail "no main in the symbols of $2"
x87=$(echo "$code" | grep -E ':[[:space:]]+fi?(add|sub|subr|mul|div|divr)p?[[:space:]]' || true)
[ -z "$x87" ] || fail "x87 arithmetic in $2:
$x87"
echo "$code" | grep -Eq '[[:space:]](add|sub|mul|div)sd[[:space:]]' || fail "main does no SSE2 arithmetic"
echo "sse2_test: main and SysTimer compute in SSE2 doubles only"
