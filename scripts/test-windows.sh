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

source scripts/deps.sh
vantrel_install_windows_deps
vantrel_install_deps

WINE_DIR=/usr/lib/wine
# Wine's 32-bit loader is a 32-bit Linux program.
test_archs=
for arch in ${WINDOWS_ARCHS:-win32 win64}; do
    if [ "$arch" = win32 ] && ! "$WINE_DIR/wine" --version >/dev/null 2>&1; then
        echo "SKIPPED: the 32-bit tests: this machine cannot run 32-bit programs, which Wine's 32-bit loader is;" \
             "the 32-bit DLL is built without them"
        continue
    fi
    test_archs+=" $arch"
done
WINDOWS_TEST_ARCHS=$test_archs bash scripts/build-windows.sh

FEEDSIM_BUILD_DIR=${FEEDSIM_BUILD_DIR:-build-feedsim}
cmake -S . -B "$FEEDSIM_BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DVANTREL_BUILD_TESTS=OFF >/dev/null
cmake --build "$FEEDSIM_BUILD_DIR" --target vantrel-feedsim
FEEDSIM=$PWD/$FEEDSIM_BUILD_DIR/tools/vantrel-feedsim

export WINEPREFIX=${WINEPREFIX:-$PWD/build-wine/prefix}
export WINEDEBUG=-all
# No prompts to install Wine's .NET and HTML engines into the prefix, and no
# hand-off of Simple MAPI mails to a mail program on this machine.
export WINEDLLOVERRIDES="mscoree,mshtml,winemapi="
mkdir -p "$WINEPREFIX"
[ -f "$WINEPREFIX/system.reg" ] || echo "Creating the Wine prefix $WINEPREFIX"
# One persistent wine server for all the test programs, stopped at the end.
# wineboot creates the prefix when it is new and starts Wine's background
# services here, outside the tests: they live on after the program that
# started them and would hold its output pipes open.
"$WINE_DIR/wineserver" -p </dev/null >/dev/null 2>&1
trap '"$WINE_DIR/wineserver" -k </dev/null >/dev/null 2>&1 || true' EXIT
"$WINE_DIR/wine64" wineboot --init </dev/null >/dev/null 2>&1 || true

status=0
for arch in $test_archs; do
    dir=${BUILD_DIR_PREFIX:-build-}$arch
    cmake -S . -B "$dir" -DVANTREL_FEEDSIM="$FEEDSIM" >/dev/null
    cmake --build "$dir"
    ctest --test-dir "$dir" --output-on-failure || status=1
done
exit $status
