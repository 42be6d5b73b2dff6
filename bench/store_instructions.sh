#!/bin/sh
# Instructions per call of the store and of the queries, counted by callgrind
# (repeatable whatever else the machine is doing):
#   store     SetQuotes of a 2-entry message, 1000 symbols in turn
#   replace   SetQuotes of a new message of one symbol
#   cached    GetLastQuotes of an unchanged 2-entry message
#   changed   GetLastQuotes of a message stored just before it (the count of
#             replace taken off)
#   bench/store_instructions.sh [build dir]
set -eu
bench=${1:-build}/bench/store_bench
calls=20000
count() {  # what calls -> total instructions
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$bench" --only "$1" "$2" 2>&1 |
        sed -n 's/.*Collected : *\([0-9]*\).*/\1/p'
}
per_call() {  # what -> instructions per call
    echo $(( ($(count "$1" "$calls") - $(count "$1" 0)) / calls ))
}
store=$(per_call store)
replace=$(per_call replace)
cached=$(per_call cached)
changed=$(( $(per_call changed) - replace ))
printf '%-8s %12s\n' call "instr/call"
printf '%-8s %12d\n' store "$store" replace "$replace" cached "$cached" changed "$changed"
