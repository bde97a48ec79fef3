#!/bin/bash
# Runs a test program where the product site's host resolves to a loopback
# address of its own: a private mount namespace whose /etc/hosts maps the
# host to 127.x.y.1. Wine resolves names inside the program's process
# (getaddrinfo reading /etc/hosts), so this is all the program needs; the
# wineserver, which owns the sockets, stays outside and reaches the address
# on the machine's loopback. The address is chosen per run so that runs on
# a shared machine do not meet on port 80; the program finds it in
# TARVANE_TEST_SITE_ADDR. Needs root (unshare, mount).
#   site-hosts.sh HOST COMMAND...
# A minimal system may have no /etc/hosts at all: there is then no file to
# mount over, so the namespace gets a copy of /etc that has one.
set -eu
host=$1
shift
address="127.$((RANDOM % 250 + 2)).$((RANDOM % 250 + 2)).1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TARVANE_TEST_SITE_ADDR=$address
if [ -f /etc/hosts ]; then
    { cat /etc/hosts; echo "$address $host"; } >"$work/hosts"
    target=/etc/hosts source="$work/hosts"
else
    cp -a /etc "$work/etc" 2>/dev/null || true
    printf '127.0.0.1 localhost\n::1 localhost\n%s %s\n' "$address" "$host" >"$work/etc/hosts"
    target=/etc source="$work/etc"
fi
unshare --mount sh -c 'mount --bind "$0" "$1" && shift && exec "$@"' \
    "$source" "$target" "$@"
