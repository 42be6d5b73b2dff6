# Sourced by the scripts: installs the Debian packages the build, the tests and
# the tools need, when any is missing.
VANTREL_PACKAGES=(cmake ninja-build g++ pkg-config binutils python3
                  libquickfix-dev libgtest-dev libgmock-dev python3-aiosmtpd
                  libcurl4-openssl-dev libssl-dev openssl)
# Only for the benchmark plots (scripts/bench.sh --plots).
VANTREL_PLOT_PACKAGES=(python3-matplotlib)

# vantrel_install_deps [packages...]: the packages given, or the build's.
vantrel_install_deps() {
    local missing=() p
    [ $# -gt 0 ] || set -- "${VANTREL_PACKAGES[@]}"
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
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
}
