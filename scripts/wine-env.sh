# Sourced by test.sh and demo.sh: a virtual display and a persistent
# wineserver on a build tree's own Wine prefix, driven by the loader that
# fits the prefix.
#   wine_env_start TREE_DIR ARCH [use_existing_display]
#   wine_env_stop
# ARCH is win32 for the 32-bit tree (a 32-bit prefix, run by wine32's
# loader) or win64 for the 64-bit tree (a 64-bit prefix, run by wine64's
# loader). The prefix is TREE_DIR/wineprefix. Sets and exports WINEPREFIX,
# WINEARCH, WINE (the loader: run every Windows program and Wine tool of
# the tree as "$WINE" program), WINELOADER, DISPLAY, WINEDEBUG.
# Returns non-zero, after saying why, when the prefix cannot be used.

if ! declare -f wine_loader >/dev/null; then
    . "$(dirname "${BASH_SOURCE[0]}")/common.sh"
fi

WINE_ENV_XVFB_PID=""
WINE_ENV_WM_PID=""

# The architecture a prefix was made for, from its registry ("" when none).
wine_prefix_arch() {
    sed -n 's/^#arch=//p' "$1/system.reg" 2>/dev/null | head -n 1 || true
}

# Creates the prefix; the output of its first boot is kept beside it.
wine_prefix_create() {
    local log="$WINEPREFIX/../wineprefix-boot.log"
    mkdir -p "$WINEPREFIX"
    # The registry reaches the disk when the wineserver ends.
    "$WINE" wineboot -i </dev/null >"$log" 2>&1 || true
    wineserver -w
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "wine-env: $WINE could not create the prefix $WINEPREFIX:" >&2
        tail -n 20 "$log" >&2
        return 1
    fi
    # A crashing test must fail, not wait on a debugger dialog.
    "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
    # The service manager waits for a starting service as long as Windows'
    # does (30 s; Wine's own default is 10 s, too short for a loaded
    # machine). Wine reads the value as a string.
    "$WINE" reg add 'HKLM\System\CurrentControlSet\Control' /v ServicesPipeTimeout /t REG_SZ /d 30000 /f \
        </dev/null >/dev/null 2>&1
    wineserver -w
}

# Starts the prefix's services; false (with the loader's words in $1) when
# the loader cannot run in the prefix.
wine_prefix_boot() {
    wineserver -p </dev/null >/dev/null 2>&1
    "$WINE" wineboot </dev/null >"$1" 2>&1
}

wine_env_start() {
    local tree_dir=$1 arch=$2 keep_display=${3:-0} n
    export WINEPREFIX="$tree_dir/wineprefix"
    export WINEARCH=$arch
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=d"
    if ! WINE=$(wine_loader "$arch"); then
        echo "wine-env: no Wine loader for a $arch prefix in $WINE_LOADER_DIR" >&2
        return 1
    fi
    export WINE
    export WINELOADER=$WINE

    # Wine's shell needs a display from the prefix's first boot on.
    if [ -z "$WINE_ENV_XVFB_PID" ] && { [ "$keep_display" != 1 ] || [ -z "${DISPLAY:-}" ]; }; then
        # Xvfb picks a free display itself and writes its number to fd 3.
        local fifo
        fifo=$(mktemp -u)
        mkfifo "$fifo"
        Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" </dev/null >/dev/null 2>&1 &
        WINE_ENV_XVFB_PID=$!
        n=$(timeout 20 head -n 1 "$fifo" || true)
        rm -f "$fifo"
        [ -n "$n" ] || { echo "wine-env: Xvfb did not start" >&2; return 1; }
        export DISPLAY=":$n"
        # A window manager, as on any desktop: without one Wine waits two
        # seconds for every window it hides to be withdrawn.
        openbox --sm-disable </dev/null >/dev/null 2>&1 &
        WINE_ENV_WM_PID=$!
    fi

    # A prefix made for the other architecture (or left half made) is made
    # again: its loader would not start in it.
    local made
    made=$(wine_prefix_arch "$WINEPREFIX")
    if [ -d "$WINEPREFIX" ] && [ "$made" != "$arch" ]; then
        echo "wine-env: $WINEPREFIX is ${made:+a $made prefix}${made:-not a finished prefix}, not $arch: making it again" >&2
        wineserver -k </dev/null >/dev/null 2>&1 || true
        rm -rf "$WINEPREFIX"
    fi
    if [ ! -d "$WINEPREFIX" ]; then
        wine_prefix_create || return 1
    fi

    # Decided by trying: a prefix the loader cannot start in (say, a 64-bit
    # prefix made before wine32 was installed, run by wine32's loader) is
    # made again once, and its failure reported.
    local log
    log=$(mktemp)
    if ! wine_prefix_boot "$log"; then
        echo "wine-env: $WINE cannot start in $WINEPREFIX ($(tail -n 1 "$log")): making it again" >&2
        wineserver -k </dev/null >/dev/null 2>&1 || true
        rm -rf "$WINEPREFIX"
        if ! wine_prefix_create || ! wine_prefix_boot "$log"; then
            echo "wine-env: $WINE cannot start in the new prefix $WINEPREFIX:" >&2
            tail -n 20 "$log" >&2
            rm -f "$log"
            return 1
        fi
    fi
    rm -f "$log"
}

wine_env_stop() {
    if [ -n "${WINEPREFIX:-}" ]; then
        wineserver -k </dev/null >/dev/null 2>&1 || true
    fi
    if [ -n "$WINE_ENV_WM_PID" ]; then
        kill "$WINE_ENV_WM_PID" 2>/dev/null || true
        wait "$WINE_ENV_WM_PID" 2>/dev/null || true
        WINE_ENV_WM_PID=""
    fi
    if [ -n "$WINE_ENV_XVFB_PID" ]; then
        kill "$WINE_ENV_XVFB_PID" 2>/dev/null || true
        wait "$WINE_ENV_XVFB_PID" 2>/dev/null || true
        WINE_ENV_XVFB_PID=""
    fi
}
