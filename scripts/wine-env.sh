# Sourced by test.sh and demo.sh: a virtual display and a persistent
# wineserver on the project's own prefix.
#   wine_env_start BUILD_DIR [use_existing_display]
#   wine_env_stop
# Sets and exports WINEPREFIX, DISPLAY, WINEDEBUG.

WINE_ENV_XVFB_PID=""
WINE_ENV_WM_PID=""

wine_env_start() {
    local build_dir=$1 keep_display=${2:-0} n
    export WINEPREFIX="$build_dir/wineprefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=d"

    # Wine's shell needs a display from the prefix's first boot on.
    if [ "$keep_display" != 1 ] || [ -z "${DISPLAY:-}" ]; then
        # Xvfb picks a free display itself and writes its number to fd 3.
        local fifo
        fifo=$(mktemp -u)
        mkfifo "$fifo"
        Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" </dev/null >/dev/null 2>&1 &
        WINE_ENV_XVFB_PID=$!
        n=$(timeout 20 head -n 1 "$fifo" || true)
        rm -f "$fifo"
        [ -n "$n" ] || { echo "Xvfb did not start" >&2; return 1; }
        export DISPLAY=":$n"
        # A window manager, as on any desktop: without one Wine waits two
        # seconds for every window it hides to be withdrawn.
        openbox --sm-disable </dev/null >/dev/null 2>&1 &
        WINE_ENV_WM_PID=$!
    fi

    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        wineboot -i </dev/null >/dev/null 2>&1 || true
        wineserver -w
        # A crashing test must fail, not wait on a debugger dialog.
        wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
        wineserver -w
    fi
    # Detached stdio: an inherited pipe would keep ctest waiting forever.
    wineserver -p </dev/null >/dev/null 2>&1
    wine wineboot </dev/null >/dev/null 2>&1 || true
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
