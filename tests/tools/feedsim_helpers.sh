# Sourced by the end-to-end test scripts: a scratch directory removed at
# exit, and simulators on free loopback ports stopped at exit.
#   start_feedsim NAME [OPTIONS...]   starts one; sets FEEDSIM_PORT and FEEDSIM_PID
#   run_host COMMAND...               runs a host program of the library
# Needs FEEDSIM (the simulator's path) to be set.

WORK=$(mktemp -d)
FEEDSIM_PIDS=()

cleanup() {
    local pid
    for pid in "${FEEDSIM_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${FEEDSIM_PIDS[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$WORK"
}
trap cleanup EXIT

# The library logs into this directory; no settings file is read.
export VANTREL_LOG_DIR=$WORK/log
export VANTREL_CONFIG=$WORK/no-such-file.cfg
unset VANTREL_HOST VANTREL_PORT VANTREL_LOGIN VANTREL_PASSWORD

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Waits (at most 10 s) for a file to appear, failing early when the process
# that should write it has ended.
wait_for_file() {
    local file=$1 pid=$2 tries=0
    while [ ! -s "$file" ]; do
        kill -0 "$pid" 2>/dev/null || fail "process $pid ended before writing $file"
        tries=$((tries + 1))
        [ $tries -le 500 ] || fail "timed out waiting for $file"
        sleep 0.02
    done
}

start_feedsim() {
    local name=$1
    shift
    "$FEEDSIM" --port 0 --port-file "$WORK/$name.port" --duration 120 --quiet "$@" \
        >"$WORK/$name.out" 2>"$WORK/$name.err" &
    FEEDSIM_PID=$!
    FEEDSIM_PIDS+=("$FEEDSIM_PID")
    wait_for_file "$WORK/$name.port" "$FEEDSIM_PID"
    FEEDSIM_PORT=$(cat "$WORK/$name.port")
}

# Runs a host program that was not built with the library's sanitizer (an
# interpreter, an example built against the installed package). In a
# sanitizer build, VANTREL_TEST_HOST_PRELOAD names the sanitizer runtime,
# which must be loaded before everything else for the instrumented library to
# load at all.
run_host() {
    if [ -n "${VANTREL_TEST_HOST_PRELOAD:-}" ]; then
        LD_PRELOAD=$VANTREL_TEST_HOST_PRELOAD${LD_PRELOAD:+:$LD_PRELOAD} "$@"
    else
        "$@"
    fi
}
