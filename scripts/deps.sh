# Sourced by the scripts: installs the Debian packages the build, the tests and
# the tools need, when any is missing.
# clang-14 and libclang-rt-14-dev build the fuzz targets (libFuzzer and
# clang's sanitizer runtimes); GCC's sanitizer runtimes come with g++.
VANTREL_PACKAGES=(cmake ninja-build g++ pkg-config binutils python3 python3-pytest
                  libquickfix-dev libgtest-dev libgmock-dev python3-aiosmtpd
                  libcurl4-openssl-dev libssl-dev openssl clang-14 libclang-rt-14-dev)
# Only for the benchmark plots (scripts/bench.sh --plots).
VANTREL_PLOT_PACKAGES=(python3-matplotlib)

vantrel_install_deps() {
    vantrel_install_packages "${VANTREL_PACKAGES[@]}"
}

# Installs those of the given packages that are missing.
vantrel_install_packages() {
    local missing=() p
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages. Install them with:" >&2
        echo "  sudo apt-get update && sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
        exit 1
    fi
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # Packages of another architecture (wine32:i386) need it enabled first.
    for p in "${missing[@]}"; do
        if [[ $p == *:* ]] && ! dpkg --print-foreign-architectures | grep -qx "${p#*:}"; then
            dpkg --add-architecture "${p#*:}"
        fi
    done
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# The Windows build and its tests under Wine: Debian's MinGW-w64 cross
# compilers (posix threads), Wine for both architectures (32-bit Wine needs
# the i386 architecture), GoogleTest's sources, dpkg-source for QuickFIX's
# source package, zip for the packages.
VANTREL_WINDOWS_PACKAGES=(cmake ninja-build g++ pkg-config python3 libquickfix-dev
                          g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
                          wine wine64 wine32:i386 googletest dpkg-dev xz-utils zip)

vantrel_install_windows_deps() {
    vantrel_install_packages "${VANTREL_WINDOWS_PACKAGES[@]}"
}

# Enables Debian's source entries (deb-src) beside the binary ones, from the
# machine's own sources (deb822 .sources files or sources.list), so that
# `apt-get source` works on a clean machine.
vantrel_enable_deb_src() {
    local list=/etc/apt/sources.list.d/vantrel-deb-src.sources f
    [ -f "$list" ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Source packages are not enabled; as root this script adds $list" >&2
        exit 1
    fi
    : >"$list.tmp"
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && [ "$f" != "$list" ] && sed 's/^Types: deb$/Types: deb-src/' "$f" >>"$list.tmp" && echo >>"$list.tmp"
    done
    if [ -f /etc/apt/sources.list ]; then
        sed -n 's/^deb \(.*\)$/deb-src \1/p' /etc/apt/sources.list >/etc/apt/sources.list.d/vantrel-deb-src.list
    fi
    mv "$list.tmp" "$list"
    apt-get update -q
}

# Unpacks QuickFIX's Debian source package into DIR/quickfix (once), and
# prints the unpacked directory.
vantrel_fetch_quickfix_source() {
    local dir=$1
    if [ ! -f "$dir/quickfix/src/C++/Message.cpp" ]; then
        vantrel_enable_deb_src >&2
        rm -rf "$dir/quickfix" "$dir/quickfix-download"
        mkdir -p "$dir/quickfix-download"
        # --download-only and dpkg-source: apt-get's own unpacking drops root
        # rights and cannot write into a directory owned by root.
        (cd "$dir/quickfix-download" && apt-get source -q --download-only quickfix >&2 &&
            dpkg-source --no-check -x quickfix_*.dsc "$dir/quickfix" >&2)
        rm -rf "$dir/quickfix-download"
    fi
    echo "$dir/quickfix"
}
