#!/usr/bin/env bash
# Soak: one session of SOAK_SECONDS (default 600) against vantrel-feedsim
# sending 10,000 quotes per second over 500 symbols, with a host that queries
# on two threads all the time. The host prints its peak resident size every
# minute; the soak fails when the peak grows after the first minute, when the
# session does not last (a minute without quotes found), when the library logs
# a warning or an error, or when the simulator stops. At the end it prints how
# many quotes the simulator sent, and so the rate reached.
#
#   scripts/soak.sh          BUILD_DIR (default build) is built first
# Not a CI test: it runs for ten minutes and wants the machine to itself.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

SOAK_SECONDS=${SOAK_SECONDS:-600}
SYMBOLS=500
RATE=10000
BUILD_DIR=${BUILD_DIR:-build}

source scripts/deps.sh
vantrel_install_deps
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" --target vantrel vantrel-feedsim

# WORK (removed at exit, with the simulator stopped), the library's log in
# WORK/log and no settings file, fail and wait_for_file.
FEEDSIM=$BUILD_DIR/tools/vantrel-feedsim
source tests/tools/feedsim_helpers.sh
work=$WORK

cc -std=c11 -O2 -Wall -Werror -Iinclude scripts/soak_host.c -o "$work/soak_host" \
    -L"$BUILD_DIR" -lvantrel -Wl,-rpath,"$(cd "$BUILD_DIR" && pwd)" -lpthread

symbols=$(for ((i = 0; i < SYMBOLS; i++)); do printf 'S%03d,' "$i"; done)
"$FEEDSIM" --port 0 --port-file "$work/port" --symbols "${symbols%,}" \
    --rate "$RATE" --depth 3 2>"$work/feedsim.txt" &
feedsim_pid=$!
FEEDSIM_PIDS+=("$feedsim_pid")
wait_for_file "$work/port" "$feedsim_pid"

echo "soak: ${SOAK_SECONDS} s, ${RATE} quotes/s over ${SYMBOLS} symbols, 2 query threads"
status=0
"$work/soak_host" 127.0.0.1 "$(cat "$work/port")" "$SYMBOLS" "$SOAK_SECONDS" | tee "$work/report" || status=$?
grep -q ', 0 found$' "$work/report" && { echo "soak: FAILED: a minute without quotes found" >&2; exit 1; }
[ "$status" -eq 0 ] || { echo "soak: FAILED: the host ended with $status" >&2; exit 1; }
kill -0 "$feedsim_pid" 2>/dev/null || { echo "soak: FAILED: the simulator stopped" >&2; exit 1; }
kill "$feedsim_pid"
wait "$feedsim_pid" || true
# The host's Logoff closed the connection: the simulator names what it sent.
sent=$(sed -n 's/.*disconnected after \([0-9]*\) quotes$/\1/p' "$work/feedsim.txt" | tail -n 1)
[ -n "$sent" ] && echo "soak: the simulator sent $sent quotes, $((sent / SOAK_SECONDS)) a second"
if grep -h -e ', Warning>: ' -e ', Error (' "$work"/log/*event.log >&2; then
    echo "soak: FAILED: the library logged the warnings or errors above" >&2
    exit 1
fi

# The peak after the first minute must stay at the first minute's peak.
peaks=($(sed -n 's/^minute [0-9]*: peak resident \([0-9]*\) kB.*/\1/p' "$work/report"))
[ ${#peaks[@]} -ge 1 ] || { echo "soak: FAILED: no report" >&2; exit 1; }
for ((m = 1; m < ${#peaks[@]}; m++)); do
    if [ "${peaks[m]}" -gt "${peaks[0]}" ]; then
        echo "soak: FAILED: peak resident grew from ${peaks[0]} kB (minute 1) to ${peaks[m]} kB (minute $((m + 1)))" >&2
        exit 1
    fi
done
echo "soak: passed: peak resident ${peaks[0]} kB after the first minute, unchanged to the end"
