#!/bin/sh
# Runs the resolver tests inside private mount and network namespaces: the
# resolver configuration seen there names one name server, 127.0.0.1, where
# the test binds a UDP socket that never answers, with long resolver
# time-outs; the hosts file holds the test's own names (one with an IPv6
# address only, one with three loopback addresses), and the address order
# puts those three in a known order. Skips (77) where the namespaces are not
# available to this user.
# Usage: silent_resolver.sh TEST_BINARY
binary=$1
flags="--mount --net"
if ! unshare $flags true 2>/dev/null; then
    flags="--mount --net --map-root-user"
    if ! unshare $flags true 2>/dev/null; then
        echo "mount and network namespaces not available: skipped"
        exit 77
    fi
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf 'nameserver 127.0.0.1\noptions timeout:30 attempts:5\n' >"$dir/resolv.conf"
printf 'hosts: files dns\n' >"$dir/nsswitch.conf"
cat >"$dir/hosts" <<'EOF'
127.0.0.1 localhost
::1 v6.quotes.vantrel.test
::1 three.quotes.vantrel.test
127.0.0.2 three.quotes.vantrel.test
127.0.0.1 three.quotes.vantrel.test
EOF
# ::1, then 127.0.0.2, then 127.0.0.1 (by default 127.0.0.1 would come
# second, as the closer match to the loopback interface's own address).
cat >"$dir/gai.conf" <<'EOF'
precedence ::1/128 50
precedence ::ffff:127.0.0.2/128 45
precedence ::/0 40
precedence ::ffff:0:0/96 35
EOF
# Without a resolv.conf the resolver asks 127.0.0.1 anyway; RES_OPTIONS keeps
# its time-outs long then too.
unshare $flags sh -c '
    set -e
    if [ -e /etc/resolv.conf ]; then mount --bind "$1/resolv.conf" /etc/resolv.conf; fi
    if [ -e /etc/nsswitch.conf ]; then mount --bind "$1/nsswitch.conf" /etc/nsswitch.conf; fi
    mount --bind "$1/hosts" /etc/hosts
    if [ -e /etc/gai.conf ]; then mount --bind "$1/gai.conf" /etc/gai.conf; fi
    # A name-service cache daemon would answer from outside the namespace.
    if [ -d /var/run/nscd ]; then mount -t tmpfs none /var/run/nscd; fi
    VANTREL_SILENT_RESOLVER=1 RES_OPTIONS="timeout:30 attempts:5" exec "$2"
' sh "$dir" "$binary"
