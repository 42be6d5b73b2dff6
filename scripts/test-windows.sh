#!/usr/bin/env bash
# Builds the Windows DLLs (scripts/build-windows.sh) and runs their tests
# under Wine: the GoogleTest programs and the Windows host program against
# the Linux feed simulator, which this script builds too.
#
# Wine runs in a private prefix inside the build tree; a fresh prefix takes
# about half a minute to create. 32-bit Windows programs need a machine that
# can run 32-bit Linux programs (Wine's 32-bit loader is one): where it
# cannot, the 32-bit DLL and its tests are still built, and their run is
# skipped with a message.
#   WINDOWS_ARCHS       as for build-windows.sh (default: "win32 win64")
#   BUILD_DIR_PREFIX    as for build-windows.sh (default: build-)
#   FEEDSIM_BUILD_DIR   Linux build of the feed simulator (default: build-feedsim)
#   WINEPREFIX          Wine prefix (default: build-wine/prefix)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/build-windows.sh

source scripts/deps.sh
vantrel_install_deps
FEEDSIM_BUILD_DIR=${FEEDSIM_BUILD_DIR:-build-feedsim}
cmake -S . -B "$FEEDSIM_BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DVANTREL_BUILD_TESTS=OFF >/dev/null
cmake --build "$FEEDSIM_BUILD_DIR" --target vantrel-feedsim
FEEDSIM=$PWD/$FEEDSIM_BUILD_DIR/tools/vantrel-feedsim

WINE_DIR=/usr/lib/wine
export WINEPREFIX=${WINEPREFIX:-$PWD/build-wine/prefix}
export WINEDEBUG=-all
# No prompts to install Wine's .NET and HTML engines into the prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$WINEPREFIX")"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX"
    "$WINE_DIR/wine64" wineboot --init >/dev/null 2>&1 || true
fi
# One wine server for all the test programs, stopped at the end.
"$WINE_DIR/wineserver" -p
trap '"$WINE_DIR/wineserver" -k 2>/dev/null || true' EXIT

status=0
for arch in ${WINDOWS_ARCHS:-win32 win64}; do
    dir=${BUILD_DIR_PREFIX:-build-}$arch
    if [ "$arch" = win32 ] && ! "$WINE_DIR/wine" --version >/dev/null 2>&1; then
        echo "SKIPPED: the 32-bit tests: this machine cannot run 32-bit programs, which Wine's 32-bit loader is"
        continue
    fi
    cmake -S . -B "$dir" -DVANTREL_FEEDSIM="$FEEDSIM" >/dev/null
    cmake --build "$dir"
    ctest --test-dir "$dir" --output-on-failure || status=1
done
exit $status
