#!/usr/bin/env bash
# Measures the feed's detection and healing times (see feed_breaks.py): a
# path that drops everything, a stopped server with a silence bound, and a
# server restart with reconnecting on. Runs inside a network namespace of its
# own (root, or a user allowed to create one) with nftables; about four
# minutes with the default of three runs per case.
#
#   scripts/feed_breaks.sh [REPEAT]        BUILD_DIR (default build) is built first
# Not a CI test: it measures, and its cases wait out the real bounds.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
BUILD_DIR=${BUILD_DIR:-build}

source scripts/deps.sh
vantrel_install_deps
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" --target vantrel vantrel-feedsim

library=$(cd "$BUILD_DIR" && pwd)/libvantrel.so
feedsim=$(cd "$BUILD_DIR" && pwd)/tools/vantrel-feedsim
flags="--net"
unshare $flags true 2>/dev/null || flags="--net --map-root-user"
unshare $flags sh -c 'ip link set lo up && exec nice -n 19 python3 "$1" "$2" "$3" "$4"' \
    sh "$PWD/scripts/feed_breaks.py" "$library" "$feedsim" "${1:-3}"
