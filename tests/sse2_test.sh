#!/bin/sh
# Checks that the arithmetic of the series loop inside the program, in main, in the stopwatch
# and in whatever pow runs there, is SSE2 double and never the x87 unit's, whose extended
# precision would change the report's digits; and says where pow comes from.
# Usage: sse2_test.sh OBJDUMP PROGRAM
set -eu
fail() { echo "sse2_test: $*" >&2; exit 1; }

# The instructions of main, of SysTimer's members, and of pow with every function it calls or
# jumps to inside the program, by the names in the symbol table.
code=$("$1" -d -M intel --no-show-raw-insn "$2" | awk '
    /^[0-9a-f]+ <.*>:$/ { name = substr($2, 2, length($2) - 3); names[++count] = name; next }
    name != "" && NF {
        body[name] = body[name] "\n" $0
        if (match($0, /(call|jmp)[[:space:]]+[0-9a-f]+ <[^+>]+>$/)) {
            callee = substr($0, RSTART, RLENGTH)
            sub(/^.*</, "", callee)
            calls[name] = calls[name] " " substr(callee, 1, length(callee) - 1)
        }
    }
    END {
        for (i = 1; i <= count; i++)
            if (names[i] ~ /^_?(main|pow)$/ || names[i] ~ /8SysTimer/) { queue[++queued] = names[i]; seen[names[i]] = 1 }
        for (i = 1; i <= queued; i++) {
            print "<" queue[i] ">:" body[queue[i]]
            if (queue[i] ~ /^_?main$/ || queue[i] ~ /8SysTimer/) continue  # main calls into iostream
            n = split(calls[queue[i]], callees, " ")
            for (j = 1; j <= n; j++) if (!(callees[j] in seen)) { queue[++queued] = callees[j]; seen[callees[j]] = 1 }
        }
    }')
echo "$code" | grep -q '^<_\{0,1\}main>:' || fail "no main in the symbols of $2"
x87=$(echo "$code" | grep -E ':[[:space:]]+f(i?(add|sub|subr|mul|div|divr)p?|yl2x|yl2xp1|2xm1|scale|sqrt|prem1?|rndint)[[:space:]]' ||
      true)
[ -z "$x87" ] || fail "x87 arithmetic in $2:
$x87"
echo "$code" | grep -Eq '[[:space:]](add|sub|mul|div)sd[[:space:]]' || fail "main does no SSE2 arithmetic"

# Where pow comes from: a DLL's import table (Windows), a shared library's versioned symbol (Linux), or neither.
from=$("$1" -p "$2" | awk '/DLL Name:/ { dll = $3 } dll != "" && NF == 3 && $NF ~ /^_?pow$/ { print dll }')
if [ -z "$from" ]; then
    version=$("$1" -T "$2" 2>/dev/null | awk '/\*UND\*/ && $NF == "pow" { gsub(/[()]/, "", $(NF - 1)); print $(NF - 1) }')
    from=$("$1" -p "$2" | awk -v version="$version" '/required from/ { lib = $3; sub(/:$/, "", lib) }
        version != "" && $NF == version { print lib }')
fi
if [ -n "$from" ]; then
    where="pow is imported from $from"
elif echo "$code" | grep -q '^<_\{0,1\}pow>:'; then
    where="pow is linked in"
else
    fail "no pow in $2, imported or linked in"
fi
echo "sse2_test: $where; main, SysTimer and pow's code in $(basename "$2") compute in SSE2 doubles only"
