#!/usr/bin/env bash
# Builds the library and runs every test.
#
# On a fresh Debian 12 machine it first installs what is missing (as root with
# apt-get; otherwise it prints the apt-get line to run and stops).
#   BUILD_DIR       build directory (default: build)
#   TSAN_BUILD_DIR  build directory of the ThreadSanitizer run (default: BUILD_DIR-tsan)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

source scripts/deps.sh
vantrel_install_deps

BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR"
ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)"

# The tests labelled tsan once more, built with ThreadSanitizer. Only their
# targets are built, which leaves out everything slow to compile that they do
# not need.
TSAN_BUILD_DIR=${TSAN_BUILD_DIR:-$BUILD_DIR-tsan}
cmake -S . -B "$TSAN_BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_SANITIZER=thread \
  -DVANTREL_BUILD_BENCH=OFF -DVANTREL_BUILD_TOOLS=OFF --no-warn-unused-cli
cmake --build "$TSAN_BUILD_DIR" --target vantrel_tsan_tests
ctest --test-dir "$TSAN_BUILD_DIR" -L tsan --output-on-failure
