#!/usr/bin/env bash
# vantrel-quotes against vantrel-feedsim, through the shared library.
# Usage: quotes_end_to_end.sh FEEDSIM QUOTES
set -euo pipefail
FEEDSIM=$1
QUOTES=$2
source "$(dirname "$0")/feedsim_helpers.sh"

# Every symbol of the snapshot has a row with two sizes, bid below offer, a
# spread and a time. Arguments: snapshot file, symbols.
check_snapshot() {
    local file=$1 symbol line
    shift
    head -n 1 "$file" | grep -q '^SYMBOL ' || fail "no header in $(cat "$file")"
    [ "$(wc -l <"$file")" -eq $(($# + 1)) ] || fail "expected $# rows: $(cat "$file")"
    for symbol in "$@"; do
        line=$(grep -F -- "$symbol " "$file" | head -n 1) || fail "no row for $symbol: $(cat "$file")"
        echo "$line" | awk -v s="$symbol" '
            $1 == s && NF == 7 && $2 > 0 && $3 > 0 && $3 < $4 && $5 > 0 && $6 > 0 &&
            $7 ~ /^[0-9][0-9]:[0-9][0-9]:[0-9][0-9]\.[0-9][0-9][0-9]$/ { ok = 1 }
            END { exit !ok }' || fail "bad row for $symbol: $line"
    done
}

# Given symbols, among them one quoted only by the simulator's own choice of
# mid, with CR LF lines and a password the simulator checks.
start_feedsim given --crlf --password secret --symbols 'EUR/USD,USD/JPY,XAU/USD,ABC.DE=42.5'
VANTREL_PASSWORD=secret "$QUOTES" --port "$FEEDSIM_PORT" --once \
    --symbols 'USD/JPY,ABC.DE,EUR/USD,XAU/USD' >"$WORK/given.txt" 2>"$WORK/given.err" ||
    fail "--once with symbols: exit $?: $(cat "$WORK/given.err")"
check_snapshot "$WORK/given.txt" USD/JPY ABC.DE EUR/USD XAU/USD
grep -q 'logged off' "$WORK/given.err" || fail "no log-off: $(cat "$WORK/given.err")"
! grep -q secret "$WORK/given.txt" "$WORK/given.err" || fail "the password was echoed"

# Discovered symbols: the simulator's default currency pairs.
start_feedsim discover
"$QUOTES" --port "$FEEDSIM_PORT" --password '' --once >"$WORK/discover.txt" 2>"$WORK/discover.err" ||
    fail "--once discovering: exit $?: $(cat "$WORK/discover.err")"
check_snapshot "$WORK/discover.txt" AUD/USD EUR/USD GBP/USD USD/CHF USD/JPY

# A symbol the server never quotes: the snapshot says so and the exit code too.
set +e
"$QUOTES" --port "$FEEDSIM_PORT" --password '' --once --wait 1 --symbols EUR/USD,NOT/QUOTED \
    >"$WORK/missing.txt" 2>"$WORK/missing.err"
code=$?
set -e
[ $code -eq 6 ] || fail "unquoted symbol: exit $code, expected 6"
grep -q '^NOT/QUOTED  *waiting for a first quote' "$WORK/missing.txt" || fail "$(cat "$WORK/missing.txt")"
grep -q 'no quote within 1 s for NOT/QUOTED' "$WORK/missing.err" || fail "$(cat "$WORK/missing.err")"

# Live board without a terminal: plain boards until the duration ends.
"$QUOTES" --port "$FEEDSIM_PORT" --password '' --symbols EUR/USD --duration 1.2 \
    >"$WORK/live.txt" 2>"$WORK/live.err" || fail "live board: exit $?"
grep -q '^EUR/USD ' "$WORK/live.txt" || fail "no board: $(cat "$WORK/live.txt")"
! grep -q $'\e' "$WORK/live.txt" || fail "escape sequences without a terminal"

# Ctrl-C logs off cleanly: interrupt a live board once it shows a quote.
"$QUOTES" --port "$FEEDSIM_PORT" --password '' --symbols EUR/USD --interval 50 \
    >"$WORK/interrupted.txt" 2>"$WORK/interrupted.err" &
monitor=$!
tries=0
until grep -q '^EUR/USD  *[0-9]' "$WORK/interrupted.txt"; do
    kill -0 "$monitor" 2>/dev/null || fail "monitor ended: $(cat "$WORK/interrupted.err")"
    tries=$((tries + 1))
    [ $tries -le 500 ] || fail "no quote on the live board"
    sleep 0.02
done
kill -INT "$monitor"
set +e
wait "$monitor"
code=$?
set -e
[ $code -eq 0 ] || fail "Ctrl-C: exit $code"
grep -q 'logged off' "$WORK/interrupted.err" || fail "no log-off after Ctrl-C"

# Wrong password: the refused-login message and its exit code.
start_feedsim refusing --password right
set +e
VANTREL_PASSWORD=Wr0ngPass "$QUOTES" --port "$FEEDSIM_PORT" --once >"$WORK/refused.txt" 2>"$WORK/refused.err"
code=$?
set -e
[ $code -eq 3 ] || fail "wrong password: exit $code, expected 3: $(cat "$WORK/refused.err")"
grep -q "login refused by 127.0.0.1:$FEEDSIM_PORT" "$WORK/refused.err" || fail "$(cat "$WORK/refused.err")"
! grep -q Wr0ngPass "$WORK/refused.txt" "$WORK/refused.err" || fail "the password was echoed"

# Nobody listening (the refusing simulator, stopped): a connection message.
kill "$FEEDSIM_PID"
wait "$FEEDSIM_PID" || true
set +e
"$QUOTES" --port "$FEEDSIM_PORT" --password '' --once >"$WORK/unreachable.txt" 2>"$WORK/unreachable.err"
code=$?
set -e
[ $code -eq 4 ] || fail "no server: exit $code, expected 4"
grep -q "cannot connect to 127.0.0.1:$FEEDSIM_PORT" "$WORK/unreachable.err" || fail "$(cat "$WORK/unreachable.err")"

# The server ends the session (after 7 quotes, 2 s in): the monitor says so.
start_feedsim ending --count 7 --rate 1
set +e
"$QUOTES" --port "$FEEDSIM_PORT" --password '' --once --wait 30 --symbols EUR/USD,NOT/QUOTED \
    >"$WORK/lost.txt" 2>"$WORK/lost.err"
code=$?
set -e
[ $code -eq 5 ] || fail "session ended by the server: exit $code, expected 5: $(cat "$WORK/lost.err")"
grep -q 'the server ended the session' "$WORK/lost.err" || fail "$(cat "$WORK/lost.err")"

# Over IPv6, where the loopback interface has ::1: the simulator listens
# there and the monitor is given the address; stopped, it is reported as
# not listening.
if grep -q '^00000000000000000000000000000001 ' /proc/net/if_inet6 2>/dev/null; then
    start_feedsim v6 --listen ::1
    "$QUOTES" --host ::1 --port "$FEEDSIM_PORT" --password '' --once --symbols EUR/USD \
        >"$WORK/v6.txt" 2>"$WORK/v6.err" || fail "--once over IPv6: exit $?: $(cat "$WORK/v6.err")"
    check_snapshot "$WORK/v6.txt" EUR/USD
    kill "$FEEDSIM_PID"
    wait "$FEEDSIM_PID" || true
    set +e
    "$QUOTES" --host ::1 --port "$FEEDSIM_PORT" --password '' --once >/dev/null 2>"$WORK/v6-down.err"
    code=$?
    set -e
    [ $code -eq 4 ] || fail "no server over IPv6: exit $code, expected 4"
    grep -q "cannot connect to ::1:$FEEDSIM_PORT: Connection refused" "$WORK/v6-down.err" ||
        fail "$(cat "$WORK/v6-down.err")"
else
    echo "no IPv6 loopback (::1): the run over IPv6 skipped"
fi

# Bad options.
set +e
"$QUOTES" --port 0 >/dev/null 2>"$WORK/usage.err"
code=$?
set -e
[ $code -eq 2 ] || fail "bad option: exit $code, expected 2"
grep -q -- '--port' "$WORK/usage.err" || fail "$(cat "$WORK/usage.err")"

echo "quotes end to end: all checks passed"
