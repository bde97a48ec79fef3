#!/bin/bash
# PHP's own php.ini files, the test data of Morvex's reading of a standard
# php.ini (tests/extedit): php.ini-development and php.ini-production of
# Debian's php8.2-common package, taken out into the cache once; a second
# run fetches nothing. Each failing step says which it was.
set -u
php_ini_dir=${TARVANE_CACHE:-$HOME/.cache/tarvane}/php-8.2
php_ini_package=php8.2-common
php_ini_files=(php.ini-development php.ini-production)

fetch_php_ini() {
    local f work deb
    for f in "${php_ini_files[@]}"; do
        [ -s "$php_ini_dir/$f" ] || break
        [ "$f" = "${php_ini_files[-1]}" ] && return 0
    done
    mkdir -p "$php_ini_dir" || { echo "fetch-php-ini: cannot create $php_ini_dir" >&2; return 1; }
    work=$(mktemp -d) || { echo "fetch-php-ini: cannot make a temporary folder" >&2; return 1; }
    if ! (cd "$work" && apt-get download "$php_ini_package") >"$work/log" 2>&1; then
        echo "fetch-php-ini: apt-get download $php_ini_package failed" >&2
        tail -n 20 "$work/log" >&2
        rm -rf "$work"
        return 1
    fi
    deb=$(ls "$work"/"$php_ini_package"_*.deb 2>/dev/null | head -n 1)
    if [ -z "$deb" ] || ! dpkg-deb -x "$deb" "$work/root"; then
        echo "fetch-php-ini: unpacking the $php_ini_package package failed (dpkg-deb -x)" >&2
        rm -rf "$work"
        return 1
    fi
    for f in "${php_ini_files[@]}"; do
        if ! cp "$work/root/usr/lib/php/8.2/$f" "$php_ini_dir/$f.part" || ! mv "$php_ini_dir/$f.part" "$php_ini_dir/$f"; then
            echo "fetch-php-ini: $f is not at usr/lib/php/8.2 in $(basename "$deb"), or cannot be copied to $php_ini_dir" >&2
            rm -rf "$work" "$php_ini_dir/$f.part"
            return 1
        fi
    done
    rm -rf "$work"
}
fetch_php_ini
