#!/usr/bin/env bash
# Builds the library and runs every test.
#
# On a fresh Debian 12 machine it first installs what is missing (as root with
# apt-get; otherwise it prints the apt-get line to run and stops).
#   BUILD_DIR   build directory (default: build)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

source scripts/deps.sh
vantrel_install_deps

BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR"
ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)"
