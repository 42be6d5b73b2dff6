#!/bin/sh
# Runs the dead-path tests inside a network namespace of their own, with its
# loopback interface up, where the test may add an nftables rule that drops
# every packet without touching the machine's own network. Skips (77) where
# network namespaces or nftables are not available to this user.
# Usage: dead_path.sh TEST_BINARY
binary=$1
if ! command -v nft >/dev/null 2>&1; then
    echo "nft (Debian package nftables) not installed: skipped"
    exit 77
fi
. "$(dirname "$0")/../support/unshare_flags.sh"
unshare_flags "--net"
if ! unshare $flags sh -c 'ip link set lo up && nft add table inet probe' 2>/dev/null; then
    echo "loopback or nftables cannot be set up in a network namespace: skipped"
    exit 77
fi
unshare $flags sh -c 'ip link set lo up && VANTREL_DEAD_PATH=1 exec "$1"' sh "$binary"
