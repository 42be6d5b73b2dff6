#!/usr/bin/env bash
# Builds the benchmark programs and prints every figure, then a summary of the
# figures with their targets.
#
#   bench/run_all.sh [--rounds N]
#
#   BUILD_DIR   build directory (default: build); configured as RelWithDebInfo
#               when it holds no build yet
#
# The figures come from a loopback session against a server inside the
# program; they depend on the machine and on whatever else it is running.
# Each figure is a median of rounds, but run the script twice on a busy
# machine before reading much into one run.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

BUILD_DIR=${BUILD_DIR:-build}
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi

cache_value() {
  sed -n "s/^$1:[A-Z]*=//p" "$BUILD_DIR/CMakeCache.txt"
}
build_type=$(cache_value CMAKE_BUILD_TYPE)
sanitizer=$(cache_value VANTREL_SANITIZER)
if [ "$(cache_value VANTREL_BUILD_TESTS)" = OFF ] || [ "$(cache_value VANTREL_BUILD_BENCH)" = OFF ]; then
  echo "run_all.sh: $BUILD_DIR is configured without the benchmarks (VANTREL_BUILD_TESTS and VANTREL_BUILD_BENCH must be ON)" >&2
  exit 2
fi
case "$build_type" in
  Release|RelWithDebInfo) ;;
  *) echo "warning: $BUILD_DIR is a '$build_type' build; the figures will be low" ;;
esac
if [ -n "$sanitizer" ]; then
  echo "warning: $BUILD_DIR is built with the $sanitizer sanitizer; the figures will be low"
fi

cmake --build "$BUILD_DIR" --target session_bench decode_bench

output=$(mktemp)
trap 'rm -f "$output"' EXIT

echo
echo "== session figures (build type $build_type, $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg))"
"$BUILD_DIR/bench/session_bench" all "$@" | tee "$output"
echo
echo "== decoding a stored message (ns per call)"
"$BUILD_DIR/bench/decode_bench"
echo
echo "== summary"
grep -F '(target' "$output"
