#!/usr/bin/env bash
# Runs the Python example against the simulator, for one symbol and for the
# any-symbol query.
# Usage: python_example.sh PYTHON EXAMPLE LIBRARY FEEDSIM
set -euo pipefail
PYTHON=$1
EXAMPLE=$2
export VANTREL_LIBRARY=$3
FEEDSIM=$4
source "$(dirname "$0")/../tools/feedsim_helpers.sh"

# AUD/USD is both the first symbol sent and the smallest, so the any-symbol
# query answers for it whatever has arrived by then.
start_feedsim python --symbols AUD/USD,USD/JPY --depth 2 --login pyhost --password pw
export VANTREL_LOGIN=pyhost VANTREL_PASSWORD=pw

"$PYTHON" "$EXAMPLE" 127.0.0.1 "$FEEDSIM_PORT" USD/JPY >"$WORK/one.txt" 2>&1 || fail "$(cat "$WORK/one.txt")"
grep -q '^Login: login granted$' "$WORK/one.txt" || fail "$(cat "$WORK/one.txt")"
grep -q '^USD/JPY: 2 bids, 2 offers$' "$WORK/one.txt" || fail "$(cat "$WORK/one.txt")"
[ "$(grep -Ec '^  (bid|offer) +[0-9.]+ +[0-9.]+M$' "$WORK/one.txt")" -eq 4 ] || fail "$(cat "$WORK/one.txt")"

"$PYTHON" "$EXAMPLE" 127.0.0.1 "$FEEDSIM_PORT" >"$WORK/any.txt" 2>&1 || fail "$(cat "$WORK/any.txt")"
grep -q '^AUD/USD: 2 bids, 2 offers$' "$WORK/any.txt" || fail "$(cat "$WORK/any.txt")"

set +e
VANTREL_PASSWORD=nope "$PYTHON" "$EXAMPLE" 127.0.0.1 "$FEEDSIM_PORT" >"$WORK/refused.txt" 2>&1
code=$?
set -e
[ $code -eq 1 ] || fail "refused login: exit $code: $(cat "$WORK/refused.txt")"
grep -q '^Login: login failed' "$WORK/refused.txt" || fail "$(cat "$WORK/refused.txt")"

# A library the loader cannot find: a hint and an exit code of its own, no
# traceback.
set +e
VANTREL_LIBRARY=$WORK/no-such-dir/libvantrel.so.0 "$PYTHON" "$EXAMPLE" 127.0.0.1 "$FEEDSIM_PORT" \
    >"$WORK/unloadable.txt" 2>&1
code=$?
set -e
[ $code -eq 3 ] || fail "library not found: exit $code: $(cat "$WORK/unloadable.txt")"
grep -q 'VANTREL_LIBRARY' "$WORK/unloadable.txt" || fail "$(cat "$WORK/unloadable.txt")"
grep -q 'LD_LIBRARY_PATH' "$WORK/unloadable.txt" || fail "$(cat "$WORK/unloadable.txt")"
! grep -q 'Traceback' "$WORK/unloadable.txt" || fail "$(cat "$WORK/unloadable.txt")"

echo "Python example: all checks passed"
