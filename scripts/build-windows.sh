#!/usr/bin/env bash
# Builds vantrel.dll for 32-bit and 64-bit Windows with Debian's MinGW-w64
# cross compilers, with its import library (libvantrel.dll.a), its
# module-definition file (vantrel.def) and the Windows host programs; for the
# architectures in WINDOWS_TEST_ARCHS also the test programs. QuickFIX is
# compiled from Debian's source package, fetched and unpacked once beside the
# build directories; its units are compiled once per architecture.
#
# On a fresh Debian 12 machine it first installs what is missing (as root).
#   WINDOWS_ARCHS       the builds to make (default: "win32 win64")
#   BUILD_DIR_PREFIX    build directories are <prefix>win32, <prefix>win64
#                       (default: build-)
#   BUILD_TYPE          CMake build type (default: Release)
#   WINDOWS_TEST_ARCHS  the builds that include the test programs
#                       (default: win64; "win32 win64" for both)
#   VANTREL_FEEDSIM     the Linux vantrel-feedsim the host test runs against
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

source scripts/deps.sh
vantrel_install_windows_deps

prefix=${BUILD_DIR_PREFIX:-build-}
mkdir -p "${prefix}quickfix-source"
quickfix=$(vantrel_fetch_quickfix_source "$PWD/${prefix}quickfix-source")
for arch in ${WINDOWS_ARCHS:-win32 win64}; do
    case $arch in
        win32) toolchain=mingw-w64-i686 ;;
        win64) toolchain=mingw-w64-x86_64 ;;
        *) echo "unknown architecture: $arch (win32 or win64)" >&2; exit 2 ;;
    esac
    dir=$PWD/$prefix$arch
    # TLS (Schannel) named here too: a build directory configured while it
    # was off by default keeps that choice in its cache otherwise.
    cmake -S . -B "$dir" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/$toolchain.cmake" \
        -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" \
        -DVANTREL_QUICKFIX_SOURCE_DIR="$quickfix" \
        -DVANTREL_WITH_TLS=ON \
        ${VANTREL_FEEDSIM:+-DVANTREL_FEEDSIM="$VANTREL_FEEDSIM"} >/dev/null
    case " ${WINDOWS_TEST_ARCHS-win64} " in
        *" $arch "*) cmake --build "$dir" ;;
        # The DLL and the host programs only: no test programs.
        *) cmake --build "$dir" --target vantrel vantrel_windows_host vantrel_windows_linked_host ;;
    esac
    echo "Built $dir/vantrel.dll"
done
