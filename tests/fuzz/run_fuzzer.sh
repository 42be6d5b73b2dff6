#!/usr/bin/env bash
# One short fixed run of a fuzzer, as CTest runs it: RUNS inputs with a fixed
# seed, starting from the committed seed corpus, which is only read; inputs
# the run finds go to a scratch directory removed afterwards.
# Usage: run_fuzzer.sh FUZZER CORPUS RUNS
set -euo pipefail
FUZZER=$1
CORPUS=$2
RUNS=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$FUZZER" -runs="$RUNS" -seed=1 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$scratch/" "$scratch" "$CORPUS"
