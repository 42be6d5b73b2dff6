#!/usr/bin/env bash
# Builds the Windows DLLs (scripts/build-windows.sh) and runs the 32-bit and
# 64-bit tests under Wine: the GoogleTest programs and the Windows host
# programs, against the Linux feed simulator, which this script builds first.
#
# Wine runs in a private prefix inside the build tree; a fresh prefix takes
# about half a minute to create, and one Wine server serves every test of
# both architectures.
#   WINDOWS_ARCHS       as for build-windows.sh (default: "win32 win64")
#   WINDOWS_TEST_ARCHS  the builds whose tests run (default: "win32 win64").
#                       Before building, a small 32-bit program is run under
#                       Wine's 32-bit loader; where it does not run (no 32-bit
#                       Wine, or a kernel that cannot run 32-bit programs),
#                       the 32-bit tests are skipped with a message and the
#                       32-bit DLL is built without them.
#   BUILD_DIR_PREFIX    as for build-windows.sh (default: build-)
#   FEEDSIM_BUILD_DIR   Linux build of the feed simulator (default: build-feedsim)
#   WINEPREFIX          Wine prefix (default: build-wine/prefix)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

source scripts/deps.sh
vantrel_install_windows_deps
vantrel_install_deps

WINE_DIR=/usr/lib/wine
export WINEPREFIX=${WINEPREFIX:-$PWD/build-wine/prefix}
export WINEDEBUG=-all
# No prompts to install Wine's .NET and HTML engines into the prefix, and no
# hand-off of Simple MAPI mails to a mail program on this machine.
export WINEDLLOVERRIDES="mscoree,mshtml,winemapi="
mkdir -p "$WINEPREFIX"
[ -f "$WINEPREFIX/system.reg" ] || echo "Creating the Wine prefix $WINEPREFIX"
# One persistent wine server for all the test programs of both architectures,
# stopped at the end. wineboot creates the prefix when it is new and starts
# Wine's background services here, outside the tests: they live on after the
# program that started them and would hold its output pipes open.
"$WINE_DIR/wineserver" -p </dev/null >/dev/null 2>&1 || true  # or one is running already
trap '"$WINE_DIR/wineserver" -k </dev/null >/dev/null 2>&1 || true' EXIT
"$WINE_DIR/wine64" wineboot --init </dev/null >/dev/null 2>&1 || true

# Whether this machine runs 32-bit Windows programs: it does if a small one,
# compiled here, runs under Wine's 32-bit loader and says so.
runs_32bit_programs() {
    local dir output
    dir=$(mktemp -d)
    printf '#include <stdio.h>\nint main(void) { printf("%%u-bit\\n", (unsigned)sizeof(void*) * 8); return 0; }\n' \
        >"$dir/probe.c"
    if i686-w64-mingw32-gcc-posix -o "$dir/probe.exe" "$dir/probe.c"; then
        output=$(timeout 120 "$WINE_DIR/wine" "$dir/probe.exe" </dev/null 2>&1) || true
    fi
    rm -rf "$dir"
    [ "$(printf '%s' "${output:-}" | tr -d '\r' | tail -n 1)" = 32-bit ] && return 0
    echo "$WINE_DIR/wine probe.exe: ${output:-no output}" | head -n 3
    return 1
}

test_archs=
for arch in ${WINDOWS_TEST_ARCHS-win32 win64}; do
    case " ${WINDOWS_ARCHS:-win32 win64} " in *" $arch "*) ;; *) continue ;; esac
    if [ "$arch" = win32 ] && ! runs_32bit_programs; then
        echo "SKIPPED: the 32-bit tests: this machine cannot run a 32-bit Windows program under Wine" \
             "(see above); the 32-bit DLL is built without them"
        continue
    fi
    test_archs+=" $arch"
done

# The feed simulator alone: its own sources and QuickFIX, not the library.
FEEDSIM_BUILD_DIR=${FEEDSIM_BUILD_DIR:-build-feedsim}
cmake -S . -B "$FEEDSIM_BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DVANTREL_BUILD_TESTS=OFF >/dev/null
cmake --build "$FEEDSIM_BUILD_DIR" --target vantrel-feedsim
VANTREL_FEEDSIM=$PWD/$FEEDSIM_BUILD_DIR/tools/vantrel-feedsim WINDOWS_TEST_ARCHS=$test_archs \
    bash scripts/build-windows.sh

# One test at a time: the alert tests register the recording SMS gateway in
# the prefix's registry, which all Wine programs of the prefix share.
status=0
for arch in $test_archs; do
    ctest --test-dir "${BUILD_DIR_PREFIX:-build-}$arch" --output-on-failure || status=1
done
exit $status
