#!/usr/bin/env bash
# vantrel.dll in a Windows host under Wine, against vantrel-feedsim on Linux
# (Wine programs share the machine's loopback): the DLL's exports, the host's
# checks (see WindowsHost.cpp), and the log the DLL writes into "REVar" beside
# the host.
# Usage: host_against_feedsim.sh WINE HOST_EXE DLL FEEDSIM OBJDUMP
set -euo pipefail
WINE=$1 HOST=$2 DLL=$3 FEEDSIM=$4 OBJDUMP=$5

WORK=$(mktemp -d)
FEEDSIM_PID=
cleanup() {
    [ -n "$FEEDSIM_PID" ] && kill "$FEEDSIM_PID" 2>/dev/null && wait "$FEEDSIM_PID" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Exactly the five functions, under their plain names.
exports=$("$OBJDUMP" -p "$DLL" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk 'NF == 3 && $2 ~ /^[0-9]+\]$/ { print $3 }' | sort | tr '\n' ' ')
[ "$exports" = "GetExceptionHandler GetLastNQuotes GetLastQuotes Login Logoff " ] || fail "exports: $exports"

# The host and the DLL in a directory of their own; no settings file there.
mkdir "$WORK/bin"
cp "$HOST" "$DLL" "$WORK/bin/"
unset VANTREL_LOG_DIR VANTREL_CONFIG

"$FEEDSIM" --port 0 --port-file "$WORK/port" --password secret --duration 300 --quiet \
    >"$WORK/feedsim.out" 2>"$WORK/feedsim.err" &
FEEDSIM_PID=$!
for _ in $(seq 500); do
    [ -s "$WORK/port" ] && break
    kill -0 "$FEEDSIM_PID" 2>/dev/null || fail "feedsim ended: $(cat "$WORK/feedsim.err")"
    sleep 0.02
done
[ -s "$WORK/port" ] || fail "feedsim wrote no port"
port=$(cat "$WORK/port")
# A loopback port with nothing listening.
closed=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

"$WINE" "$WORK/bin/$(basename "$HOST")" "$port" secret "$closed" ||
    fail "the host's checks failed; its log: $(cat "$WORK"/bin/REVar/GLOBAL*.event.log 2>&1)"

# The log: three dated files in REVar beside the host, "[LR]" lines ending
# in CR LF, Windows socket error codes, and never the password.
log=$WORK/bin/REVar
ls "$log"/GLOBAL*.message.log "$log"/GLOBAL*.transact.log >/dev/null || fail "no message or transaction file in $log"
events=$(cat "$log"/GLOBAL*.event.log)
[ -n "$events" ] || fail "no event file in $log"
# (An entry whose text holds line breaks spans several lines.)
while IFS= read -r line; do
    [[ $line == *$'\r' ]] || fail "a line not ended by CR LF: $line"
    [[ $line != "[LR]"* || $line == "[LR]<"????????-??:??:??", "* ]] || fail "a malformed [LR] line: $line"
done <<<"$events"
events=${events//$'\r'/}
for expected in \
    ", event>: Login() is started." \
    ", event>: StartQuotesThread(): login granted." \
    ", event>: CQuotesContainer::AddRef(): m_nRefsCnt = 1" \
    ", event>: Logoff() is finished." \
    ", Error (2)>: StartQuotesThread(): login failed [login:password fields]." \
    ", Warning>: StartQuotesThread(): 'send' socket error = 10061." \
    ", Warning>: StartQuotesThread(): 'send' socket error = 10022." \
    ", event>: StartQuotesThread(): Thread is finished."; do
    grep -qF -- "$expected" <<<"$events" || fail "no line with \"$expected\" in: $events"
done
! grep -q secret <<<"$events" || fail "the password reached the log"
echo "windows host against feedsim: passed"
