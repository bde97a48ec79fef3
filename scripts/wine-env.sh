# Sourced by test.sh and demo.sh: a virtual display and a persistent
# wineserver on the project's own prefix.
#   wine_env_start BUILD_DIR [use_existing_display]
#   wine_env_stop
# Sets and exports WINEPREFIX, DISPLAY, WINEDEBUG.

WINE_ENV_XVFB_PID=""

wine_env_free_display() {
    local n
    for n in $(seq 90 199); do
        if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
            echo "$n"
            return 0
        fi
    done
    return 1
}

wine_env_start() {
    local build_dir=$1 keep_display=${2:-0} n i
    export WINEPREFIX="$build_dir/wineprefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=d"

    # Wine's shell needs a display from the prefix's first boot on.
    if [ "$keep_display" != 1 ] || [ -z "${DISPLAY:-}" ]; then
        n=$(wine_env_free_display) || { echo "no free X display" >&2; return 1; }
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
        WINE_ENV_XVFB_PID=$!
        for i in $(seq 1 100); do
            [ -e "/tmp/.X11-unix/X$n" ] && break
            sleep 0.1
        done
        export DISPLAY=":$n"
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
    if [ -n "$WINE_ENV_XVFB_PID" ]; then
        kill "$WINE_ENV_XVFB_PID" 2>/dev/null || true
        wait "$WINE_ENV_XVFB_PID" 2>/dev/null || true
        WINE_ENV_XVFB_PID=""
    fi
}
