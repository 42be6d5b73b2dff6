#!/usr/bin/env bash
# Packs the Windows builds into vantrel-<version>-win32.zip and
# vantrel-<version>-win64.zip in the repository's top directory: the DLL
# (stripped), its import library and .def, the header, and the README's
# Windows section as README-windows.txt. Builds first when a DLL is missing.
#   WINDOWS_ARCHS, BUILD_DIR_PREFIX   as for build-windows.sh
#   PACKAGE_DIR                       where the zips go (default: .)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

version=$(sed -n 's/^project(Vantrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "no version in CMakeLists.txt" >&2; exit 1; }
out=$(realpath -m "${PACKAGE_DIR:-.}")
mkdir -p "$out"

for arch in ${WINDOWS_ARCHS:-win32 win64}; do
    dir=${BUILD_DIR_PREFIX:-build-}$arch
    if [ ! -f "$dir/vantrel.dll" ]; then
        WINDOWS_ARCHS=$arch WINDOWS_TEST_ARCHS= bash scripts/build-windows.sh
    fi
    case $arch in
        win32) strip=i686-w64-mingw32-strip ;;
        win64) strip=x86_64-w64-mingw32-strip ;;
    esac
    name=vantrel-$version-$arch
    stage=$(mktemp -d)
    mkdir -p "$stage/$name/include/vantrel"
    "$strip" -o "$stage/$name/vantrel.dll" "$dir/vantrel.dll"
    cp "$dir/libvantrel.dll.a" "$dir/vantrel.def" "$stage/$name/"
    cp include/vantrel/vantrel.h "$stage/$name/include/vantrel/"
    # The README's "Windows" section, up to the next section, in CR LF.
    awk '/^## Windows$/ { keep = 1 } keep && /^## / && !/^## Windows$/ { exit } keep' README.md |
        sed 's/$/\r/' >"$stage/$name/README-windows.txt"
    rm -f "$out/$name.zip"
    (cd "$stage" && zip -q -r -X "$out/$name.zip" "$name")
    rm -rf "$stage"
    echo "$out/$name.zip"
done
