#!/usr/bin/env bash
# Builds the benchmarks in Release, in their own build directory, runs every
# figure for the library and for the reference client (the quotes client as
# first designed, built into the benchmark), and prints one table; then the
# other benchmark programs' own figures, and instruction counts when valgrind
# is installed.
#
#   scripts/bench.sh [--quick] [--plots DIR] [--docs]
#
#   --quick          a smoke run of a minute or so: the figures mean little
#   --plots DIR      also draws the plots into DIR (needs python3-matplotlib)
#   --docs           draws the plots into docs/ and puts the table into
#                    docs/performance.md
#   BENCH_BUILD_DIR  build directory (default: build-bench)
#
# The figures, one per line, go to $BENCH_BUILD_DIR/bench-results.tsv and the
# whole commentary to $BENCH_BUILD_DIR/bench-output.txt. Figures taken on a
# busy machine mean little: the script prints the load average before and
# after, and each two-thread figure says how many cores other processes took.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

quick=()
plots=""
docs=""
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=(--quick) ;;
    --plots) plots=${2:?--plots needs a directory}; shift ;;
    --docs) plots=docs; docs=docs/performance.md ;;
    *) echo "usage: scripts/bench.sh [--quick] [--plots DIR] [--docs]" >&2; exit 2 ;;
  esac
  shift
done

source scripts/deps.sh
vantrel_install_deps
if [ -n "$plots" ]; then
  vantrel_install_packages "${VANTREL_PLOT_PACKAGES[@]}"
fi

BUILD_DIR=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTREL_WERROR=OFF \
  -DVANTREL_BUILD_TOOLS=OFF --no-warn-unused-cli > /dev/null
cmake --build "$BUILD_DIR" --target session_bench store_bench decode_bench sms_gateway_bench

bench="$BUILD_DIR/bench/session_bench"
results="$BUILD_DIR/bench-results.tsv"
output="$BUILD_DIR/bench-output.txt"
: > "$output"

info() { printf 'INFO\t%s\t%s\n' "$1" "$2" >> "$results"; }
loadavg() { cut -d' ' -f1-3 /proc/loadavg; }

: > "$results"
info date "$(date -u '+%Y-%m-%d %H:%M UTC')"
info commit "$(git rev-parse --short HEAD 2>/dev/null || echo unknown)"
info cpu "$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), $(nproc) cores"
info system "$(. /etc/os-release && echo "$PRETTY_NAME"), Linux $(uname -r), $(c++ -dumpfullversion 2>/dev/null | sed 's/^/GCC /')"
info load_before "$(loadavg)"

run() {
  echo "== session_bench $* (load average $(loadavg))" | tee -a "$output"
  "$bench" "$@" "${quick[@]}" | tee -a "$output" | grep '^RESULT' >> "$results"
}

run ingest staleness queries login idle
for client in library reference; do
  for symbols in 1000 100000; do
    # Each in a process of its own: resident memory is the process's.
    if [ ${#quick[@]} -gt 0 ] && [ "$symbols" -gt 1000 ]; then continue; fi
    run memory --client "$client" --symbols "$symbols"
  done
done
info load_after "$(loadavg)"

other() {
  echo "== $*"
  "$@"
  echo
}

echo
/usr/bin/python3 scripts/bench_report.py "$results"
echo
if [ ${#quick[@]} -eq 0 ]; then
  other "$BUILD_DIR/bench/store_bench"
  other "$BUILD_DIR/bench/decode_bench"
  other "$BUILD_DIR/bench/sms_gateway_bench"
  if command -v valgrind > /dev/null; then
    other bench/store_instructions.sh "$BUILD_DIR"
    other bench/decode_instructions.sh "$BUILD_DIR"
  fi
fi 2>&1 | tee -a "$output"
if [ -n "$plots" ]; then
  /usr/bin/python3 scripts/bench_report.py --plots "$plots" "$results"
fi
if [ -n "$docs" ]; then
  /usr/bin/python3 scripts/bench_report.py --update "$docs" "$results"
fi
