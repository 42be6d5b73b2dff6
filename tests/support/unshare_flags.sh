# Sourced by the test scripts that run a test inside namespaces of its own.
#   unshare_flags "--mount --net"
# sets `flags` to those namespaces, with a user namespace mapping this user
# to root where the user may not create them otherwise, or exits 77 (the
# test is skipped) with a message where neither works.
unshare_flags() {
    flags="$1"
    if ! unshare $flags true 2>/dev/null; then
        flags="$1 --map-root-user"
        if ! unshare $flags true 2>/dev/null; then
            echo "namespaces ($1) not available: skipped"
            exit 77
        fi
    fi
}
