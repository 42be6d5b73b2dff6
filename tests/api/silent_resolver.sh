#!/bin/sh
# Runs the silent-resolver tests inside private mount and network namespaces:
# the resolver configuration seen there names one name server, 127.0.0.1,
# where the test binds a UDP socket that never answers, with long resolver
# time-outs. Skips (77) where the namespaces are not available to this user.
# Usage: silent_resolver.sh TEST_BINARY
binary=$1
. "$(dirname "$0")/../support/unshare_flags.sh"
unshare_flags "--mount --net"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf 'nameserver 127.0.0.1\noptions timeout:30 attempts:5\n' >"$dir/resolv.conf"
printf 'hosts: files dns\n' >"$dir/nsswitch.conf"
# Without a resolv.conf the resolver asks 127.0.0.1 anyway; RES_OPTIONS keeps
# its time-outs long then too.
unshare $flags sh -c '
    set -e
    if [ -e /etc/resolv.conf ]; then mount --bind "$1/resolv.conf" /etc/resolv.conf; fi
    if [ -e /etc/nsswitch.conf ]; then mount --bind "$1/nsswitch.conf" /etc/nsswitch.conf; fi
    # A name-service cache daemon would answer from outside the namespace.
    if [ -d /var/run/nscd ]; then mount -t tmpfs none /var/run/nscd; fi
    VANTREL_SILENT_RESOLVER=1 RES_OPTIONS="timeout:30 attempts:5" exec "$2"
' sh "$dir" "$binary"
