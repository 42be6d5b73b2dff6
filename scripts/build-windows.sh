#!/usr/bin/env bash
# Builds vantrel.dll for 32-bit and 64-bit Windows with Debian's MinGW-w64
# cross compilers, with its import library (libvantrel.dll.a), its
# module-definition file (vantrel.def), the test programs and the Windows
# host program. QuickFIX is compiled from Debian's source package, which is
# fetched and unpacked into each build directory.
#
# On a fresh Debian 12 machine it first installs what is missing (as root).
#   WINDOWS_ARCHS     the builds to make (default: "win32 win64")
#   BUILD_DIR_PREFIX  build directories are <prefix>win32, <prefix>win64
#                     (default: build-)
#   BUILD_TYPE        CMake build type (default: Release)
#   WINDOWS_TEST_ARCHS  the builds that include the tests (default: all)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

source scripts/deps.sh
vantrel_install_windows_deps

for arch in ${WINDOWS_ARCHS:-win32 win64}; do
    case $arch in
        win32) toolchain=mingw-w64-i686 ;;
        win64) toolchain=mingw-w64-x86_64 ;;
        *) echo "unknown architecture: $arch (win32 or win64)" >&2; exit 2 ;;
    esac
    dir=$PWD/${BUILD_DIR_PREFIX:-build-}$arch
    mkdir -p "$dir"
    quickfix=$(vantrel_fetch_quickfix_source "$dir")
    cmake -S . -B "$dir" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/$toolchain.cmake" \
        -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}" \
        -DVANTREL_QUICKFIX_SOURCE_DIR="$quickfix" \
        -DVANTREL_BUILD_TESTS="$(case " ${WINDOWS_TEST_ARCHS-win32 win64} " in *" $arch "*) echo ON ;; *) echo OFF ;; esac)"
    cmake --build "$dir"
    echo "Built $dir/vantrel.dll"
done
