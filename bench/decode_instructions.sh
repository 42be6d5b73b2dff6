#!/bin/sh
# Instructions per decode of a stored market data message against a bare
# QuickFIX parse of the same text, counted by callgrind (repeatable whatever
# else the machine is doing).
#   bench/decode_instructions.sh [build dir]
set -eu
bench=${1:-build}/bench/decode_bench
calls=2000
count() {  # side entries calls -> total instructions
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$bench" --only "$1" "$2" "$3" 2>&1 |
        sed -n 's/.*Collected : *\([0-9]*\).*/\1/p'
}
printf '%-8s %16s %16s %10s\n' entries "bare instr/call" "decode instr/call" overhead
for n in 2 4 10; do
    base_bare=$(count bare "$n" 0)
    bare=$(count bare "$n" "$calls")
    base_decode=$(count decode "$n" 0)
    decode=$(count decode "$n" "$calls")
    awk -v n="$n" -v b=$(( (bare - base_bare) / calls )) -v d=$(( (decode - base_decode) / calls )) \
        'BEGIN { printf "%-8d %16d %16d %9.1f%%\n", n, b, d, (d / b - 1) * 100 }'
done
