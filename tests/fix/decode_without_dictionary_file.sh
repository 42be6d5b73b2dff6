#!/bin/sh
# Runs the decode probe with the dictionary's source folder hidden: inside a
# private mount namespace an empty tmpfs covers it, so the only copy of the
# dictionary the probe can reach is the one compiled into it. Skips (77)
# where mount namespaces are not available to this user.
probe=$1
fixdir=$2
if ! unshare --mount --map-root-user true 2>/dev/null && ! unshare --mount true 2>/dev/null; then
    echo "mount namespaces not available: skipped"
    exit 77
fi
flags="--mount"
unshare --mount true 2>/dev/null || flags="--mount --map-root-user"
exec unshare $flags sh -c '
    mount -t tmpfs none "$2" || exit 77
    if [ -e "$2/fix44_dictionary.xml" ]; then echo "dictionary still visible"; exit 1; fi
    exec "$1"' sh "$probe" "$fixdir"
