#!/usr/bin/env bash
# Builds the library and runs every test, in six passes:
#   default   RelWithDebInfo build with -Werror: everything built, every test run
#   release   Release build with -Werror of the library and the tools (what a
#             user builds; the tests' own code is checked by the other passes)
#   asan      AddressSanitizer (leaks included) + UndefinedBehaviorSanitizer,
#             every test run; any report fails the test
#   tsan      ThreadSanitizer: the tests labelled tsan (every test that starts
#             threads); only their targets are built
#   fuzz      clang with libFuzzer: the fuzz targets' short fixed runs
#   windows   the 32-bit and 64-bit DLLs cross-built with MinGW-w64, their
#             tests run under Wine (scripts/test-windows.sh)
#
#   scripts/test.sh              all six passes, in this order
#   scripts/test.sh asan tsan    only the passes named
#
# On a fresh Debian 12 machine it first installs what is missing (as root with
# apt-get; otherwise it prints the apt-get line to run and stops).
#   BUILD_DIR   build directory of the default pass (default: build); the other
#               passes use BUILD_DIR-release, -asan, -tsan and -fuzz
#   VANTREL_BUILD_LOCK  a lock file: each build step holds it (flock), so that
#               builds of several developers on one machine take turns while
#               their tests run side by side
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

source scripts/deps.sh
vantrel_install_deps

BUILD_DIR=${BUILD_DIR:-build}
PASSES=("$@")
[ ${#PASSES[@]} -gt 0 ] || PASSES=(default release asan tsan fuzz windows)
JOBS=$(nproc)

# Sanitizer reports end the program with a stack; a test with any report fails.
export UBSAN_OPTIONS=print_stacktrace=1
export TSAN_OPTIONS=second_deadlock_stack=1

build() {
    local start=$SECONDS waited=0
    if [ -n "${VANTREL_BUILD_LOCK:-}" ]; then
        exec {lock}>"$VANTREL_BUILD_LOCK"
        flock "$lock"
        waited=$((SECONDS - start))
    fi
    cmake --build "$@"
    [ -n "${VANTREL_BUILD_LOCK:-}" ] && exec {lock}>&-
    echo "=== $pass: built in $((SECONDS - start - waited)) s${VANTREL_BUILD_LOCK:+ (after $waited s waiting for the lock)}"
}

configure() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DVANTREL_WERROR=ON --no-warn-unused-cli "$@"
}

# The sanitizer and fuzz builds compile at -O1 with line tables only: reports
# still name file and line, and the build takes half the time of -O2 -g.
SANITIZER_FLAGS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo
                 "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
                 "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")

# Each pass builds, then runs its tests in the background while the next
# passes build: the tests mostly wait on their loopback peers while a build
# keeps the cores busy. One pass's tests run at a time (a pass waits for the
# previous tests before starting its own); their output is printed whole when
# they end, and failed tests fail the script once every pass has run.
build_default() {
    configure "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    build "$BUILD_DIR"
}
tests_default() { ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$JOBS"; }

build_release() {
    configure "$BUILD_DIR-release" -DCMAKE_BUILD_TYPE=Release -DVANTREL_BUILD_TESTS=OFF
    build "$BUILD_DIR-release"
}

build_asan() {
    configure "$BUILD_DIR-asan" "${SANITIZER_FLAGS[@]}" -DVANTREL_SANITIZER=address,undefined \
        -DVANTREL_BUILD_BENCH=OFF
    build "$BUILD_DIR-asan"
}
tests_asan() { ctest --test-dir "$BUILD_DIR-asan" --output-on-failure -j "$JOBS"; }

build_tsan() {
    configure "$BUILD_DIR-tsan" "${SANITIZER_FLAGS[@]}" -DVANTREL_SANITIZER=thread \
        -DVANTREL_BUILD_BENCH=OFF -DVANTREL_BUILD_TOOLS=OFF
    build "$BUILD_DIR-tsan" --target vantrel_tsan_tests
}
tests_tsan() { ctest --test-dir "$BUILD_DIR-tsan" -L tsan --output-on-failure -j "$JOBS"; }

build_fuzz() {
    CC=clang-14 CXX=clang++-14 configure "$BUILD_DIR-fuzz" "${SANITIZER_FLAGS[@]}" -DVANTREL_FUZZ=ON \
        -DVANTREL_SANITIZER=address,undefined -DVANTREL_BUILD_BENCH=OFF -DVANTREL_BUILD_TOOLS=OFF
    build "$BUILD_DIR-fuzz" --target vantrel_fuzzers
}
tests_fuzz() { ctest --test-dir "$BUILD_DIR-fuzz" -L fuzz --output-on-failure -j "$JOBS"; }

# Builds and tests in one: the Wine tests run in the foreground, beside the
# previous pass's tests.
build_windows() {
    local start=$SECONDS
    bash scripts/test-windows.sh
    echo "=== $pass: built and tested in $((SECONDS - start)) s"
}

for pass in "${PASSES[@]}"; do
    case $pass in
        default | release | asan | tsan | fuzz | windows) ;;
        *) echo "unknown pass: $pass (default, release, asan, tsan, fuzz, windows)" >&2; exit 2 ;;
    esac
done

LOGS=$(mktemp -d)
tests_pid=
tests_pass=
tests_start=0
failed=()

# Waits for the tests running in the background, if any, and prints them.
finish_tests() {
    [ -n "$tests_pid" ] || return 0
    local status=0
    wait "$tests_pid" || status=$?
    tests_pid=
    cat "$LOGS/$tests_pass.txt"
    if [ $status -eq 0 ]; then
        echo "=== $tests_pass: tests passed in $((SECONDS - tests_start)) s"
    else
        echo "=== $tests_pass: tests FAILED after $((SECONDS - tests_start)) s"
        failed+=("$tests_pass")
    fi
}
trap 'finish_tests; rm -rf "$LOGS"' EXIT

for pass in "${PASSES[@]}"; do
    echo "=== $pass"
    "build_$pass"
    if declare -F "tests_$pass" >/dev/null; then
        finish_tests
        tests_pass=$pass
        tests_start=$SECONDS
        "tests_$pass" >"$LOGS/$pass.txt" 2>&1 &
        tests_pid=$!
    fi
done
finish_tests
if [ ${#failed[@]} -gt 0 ]; then
    echo "=== FAILED: the tests of ${failed[*]} (after $SECONDS s)"
    exit 1
fi
echo "=== all passed (${PASSES[*]}) in $SECONDS s"
