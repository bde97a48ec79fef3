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
set -eu
host=$1
shift
address="127.$((RANDOM % 250 + 2)).$((RANDOM % 250 + 2)).1"
hosts=$(mktemp)
trap 'rm -f "$hosts"' EXIT
{ cat /etc/hosts; echo "$address $host"; } >"$hosts"
export TARVANE_TEST_SITE_ADDR=$address
unshare --mount sh -c 'mount --bind "$0" /etc/hosts && exec "$@"' "$hosts" "$@"
