#!/usr/bin/env bash
# Shows the library at work: builds it, starts the feed simulator on a free
# loopback port and runs the quote monitor against it for about ten seconds
# (or until Ctrl-C), then stops the simulator.
#
# On a fresh Debian 12 machine it first installs what is missing (as root with
# apt-get; otherwise it prints the apt-get line to run and stops).
#   BUILD_DIR      build directory (default: build, shared with scripts/test.sh)
#   DEMO_SECONDS   how long the monitor runs (default: 10; 0 until Ctrl-C)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

source scripts/deps.sh
vantrel_install_deps

BUILD_DIR=${BUILD_DIR:-build}
DEMO_SECONDS=${DEMO_SECONDS:-10}
# The same configuration as scripts/test.sh, so both share one build.
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" --target vantrel-feedsim vantrel-quotes

work=$(mktemp -d)
feedsim_pid=
stop_feedsim() {
    if [ -n "$feedsim_pid" ]; then
        kill "$feedsim_pid" 2>/dev/null || true
        wait "$feedsim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap stop_feedsim EXIT

# Port 0: the system picks a free port, which the simulator writes to the
# port file once it listens. It stops by itself after an hour at the latest.
"$BUILD_DIR/tools/vantrel-feedsim" --port 0 --port-file "$work/port" --duration 3600 \
    --rate 20 --quiet >/dev/null &
feedsim_pid=$!
for _ in $(seq 500); do
    [ -s "$work/port" ] && break
    kill -0 "$feedsim_pid" 2>/dev/null || { echo "The feed simulator did not start." >&2; exit 1; }
    sleep 0.02
done
[ -s "$work/port" ] || { echo "The feed simulator did not report its port." >&2; exit 1; }
port=$(cat "$work/port")

# The simulator accepts any login; the library's log goes into the build.
export VANTREL_LOG_DIR=${VANTREL_LOG_DIR:-$(cd "$BUILD_DIR" && pwd)/demo-log}
echo "Feed simulator on 127.0.0.1:$port. Quote monitor for ${DEMO_SECONDS}s (Ctrl-C ends it)..."
status=0
VANTREL_PASSWORD=demo "$BUILD_DIR/tools/vantrel-quotes" --host 127.0.0.1 --port "$port" \
    --login demo --duration "$DEMO_SECONDS" || status=$?
echo "The library's log files are in $VANTREL_LOG_DIR."
exit "$status"
