#!/usr/bin/env bash
# Installs the build into a temporary prefix, builds the C example against
# the installed CMake package and, separately, with pkg-config, and runs both
# and the installed monitor against the simulator.
# Usage: installed_c_example.sh CMAKE BUILD_DIR EXAMPLE_SOURCE FEEDSIM
set -euo pipefail
CMAKE=$1
BUILD_DIR=$2
EXAMPLE=$3
FEEDSIM=$4
source "$(dirname "$0")/../tools/feedsim_helpers.sh"

prefix=$WORK/prefix
"$CMAKE" --install "$BUILD_DIR" --prefix "$prefix" >"$WORK/install.log" || fail "install: $(cat "$WORK/install.log")"

# What a consumer expects to find.
pc=$(find "$prefix" -name vantrel.pc)
[ -n "$pc" ] || fail "no vantrel.pc installed"
libdir=$(dirname "$(dirname "$pc")")
for file in "$prefix/include/vantrel/vantrel.h" "$libdir/libvantrel.so" \
    "$libdir/cmake/Vantrel/VantrelConfig.cmake" "$libdir/cmake/Vantrel/VantrelConfigVersion.cmake" \
    "$prefix/bin/vantrel-quotes" "$prefix/bin/vantrel-feedsim"; do
    [ -e "$file" ] || fail "not installed: $file"
done
[ -L "$libdir/libvantrel.so" ] || fail "libvantrel.so is not the development link"
soname=$(readelf -d "$libdir/libvantrel.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = libvantrel.so.0 ] || fail "SONAME is '$soname'"
[ -e "$libdir/$soname" ] || fail "no $soname installed"

# The CMake package: find_package(Vantrel) and Vantrel::vantrel.
"$CMAKE" -S "$EXAMPLE" -B "$WORK/example-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    >"$WORK/configure.log" 2>&1 || fail "configure: $(cat "$WORK/configure.log")"
"$CMAKE" --build "$WORK/example-build" >"$WORK/build.log" 2>&1 || fail "build: $(cat "$WORK/build.log")"

# The pkg-config file, for builds without CMake, as the README's recipe has
# it: PKG_CONFIG_PATH to find the file, then either a run path taken from the
# file's libdir or LD_LIBRARY_PATH when the program runs.
export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(pkg-config --variable=libdir vantrel)" -ef "$libdir" ] || fail "pkg-config libdir"
flags=$(pkg-config --cflags --libs vantrel) || fail "pkg-config"
cc -std=c99 -Wall -Werror "$EXAMPLE/quote_once.c" $flags -Wl,-rpath,"$(pkg-config --variable=libdir vantrel)" \
    -o "$WORK/quote_once_pc" || fail "build with pkg-config flags: $flags"
cc -std=c99 -Wall -Werror "$EXAMPLE/quote_once.c" $flags -o "$WORK/quote_once_plain" \
    || fail "build with pkg-config flags: $flags"

start_feedsim example --symbols EUR/USD,USD/JPY
for program in "$WORK/example-build/quote_once" "$WORK/quote_once_pc" \
    "env LD_LIBRARY_PATH=$libdir $WORK/quote_once_plain"; do
    $program 127.0.0.1 "$FEEDSIM_PORT" USD/JPY >"$WORK/run.txt" 2>&1 || fail "$program: $(cat "$WORK/run.txt")"
    grep -Eq '^USD/JPY: 3 bids, 3 offers; best bid [0-9.]+ for [0-9.]+M; best offer [0-9.]+ for [0-9.]+M$' \
        "$WORK/run.txt" || fail "$program printed: $(cat "$WORK/run.txt")"
done

# The installed monitor finds the installed library.
"$prefix/bin/vantrel-quotes" --port "$FEEDSIM_PORT" --password '' --once --symbols EUR/USD \
    >"$WORK/monitor.txt" 2>&1 || fail "installed monitor: $(cat "$WORK/monitor.txt")"
grep -q '^EUR/USD  *[0-9]' "$WORK/monitor.txt" || fail "$(cat "$WORK/monitor.txt")"

echo "installed C example: all checks passed"
