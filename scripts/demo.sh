#!/usr/bin/env bash
# Builds the programs and runs them on a demo kit under Wine.
#   scripts/demo.sh
# Lays out a kit (the manager, the extension editor and the stand-in
# servers) in the prefix's C:\Tarvane, starts the manager, which starts the
# stack, and waits until both servers run. With a DISPLAY the manager stays
# there for you and the script waits until you quit it. Without one it runs
# on a virtual display, saves screenshots, prints their paths, then quits
# the manager, which stops the stack. BUILD_DIR (default: build) is shared
# with scripts/test.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
jobs=${JOBS:-$(nproc)}
fail() { echo "demo: $*" >&2; exit 1; }

bash "$root/scripts/setup.sh" || fail "setting up the machine failed"

# The 64-bit tree: the one Wine runs on this host (see README).
cmake -S "$root" -B "$build/x64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null \
    || fail "configuring the build failed"
demo_targets=(Tarvane Morvex kitprograms tvdemo)
cmake --build "$build/x64" -j "$jobs" --target "${demo_targets[@]}" -- --no-print-directory >/dev/null \
    || fail "building ${demo_targets[*]} failed"
bin="$build/x64/bin"

had_display=${DISPLAY:-}
. "$root/scripts/wine-env.sh"
trap wine_env_stop EXIT
wine_env_start "$build/x64" win64 1 || fail "starting Wine failed"
tvdemo() { wine "$bin/tvdemo.exe" "$@" </dev/null 2>&1 | tr -d '\r'; }

# The kit: C:\Tarvane with the programs, Apache's and MySQL's folders, the
# local web pages; php.ini in the Windows directory.
windir=$(wine cmd /c echo %windir% 2>/dev/null | tr -d '\r')
windir_unix=$(winepath -u "$windir" 2>/dev/null)
kit="$WINEPREFIX/drive_c/Tarvane"
rm -rf "$kit"
mkdir -p "$kit/Apache/conf" "$kit/Apache/logs" "$kit/MySql/bin" "$kit/MySql/data"
cp -r "$root/demo/kit/." "$kit/"
cp "$bin/Tarvane.exe" "$bin/Morvex.exe" "$kit/"
cp "$bin/apache.exe" "$kit/Apache/"
for p in mysqld-nt mysqld mysqld-opt mysqld-shareware mysqladmin; do cp "$bin/$p.exe" "$kit/MySql/bin/"; done
cp "$root/demo/php.ini" "$windir_unix/php.ini"
wine reg delete 'HKCU\Software\Tarvane' /f </dev/null >/dev/null 2>&1 || true
echo "demo: kit laid out in C:\\Tarvane ($kit)"

wine 'C:\Tarvane\Tarvane.exe' </dev/null >/dev/null 2>&1 &
manager=$!
if ! tvdemo wait-started 30; then
    fail "the stack did not start (see $kit/Tarvane.log)"
fi

if [ -n "$had_display" ] && [ -z "$WINE_ENV_XVFB_PID" ]; then
    echo "demo: Tarvane runs on $DISPLAY; quit it from its tray menu (Exit) to end the demo"
    wait "$manager" || true
    exit 0
fi

# Virtual display: photograph the windows, then quit.
shot() {  # shot TITLE FILE
    local window geometry
    window=$(xwininfo -root -tree 2>/dev/null | grep -F "\"$1\"" | awk '{print $1}' | head -n 1 || true)
    [ -n "$window" ] || fail "the window \"$1\" did not appear"
    geometry=$(xwininfo -id "$window" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF}
                                            /Width:/{w=$NF} /Height:/{h=$NF} END{printf "%dx%d+%d+%d", w, h, x, y}')
    import -window root -crop "$geometry" +repage "$2"
    echo "demo: screenshot: $2"
}
sleep 1
shot "Tarvane" "$build/tarvane-demo.png"

editor="VAV Ozuvuzuded Avedo"
wine "$kit/Morvex.exe" </dev/null >/dev/null 2>&1 &
tvdemo wait-window "$editor" 20 || fail "the extension editor did not open"
sleep 1
shot "$editor" "$build/morvex-demo.png"
wine taskkill /im Morvex.exe </dev/null >/dev/null 2>&1 || true

wine 'C:\Tarvane\Tarvane.exe' /quit </dev/null >/dev/null 2>&1 || true
for _ in $(seq 1 50); do kill -0 "$manager" 2>/dev/null || break; sleep 0.2; done
kill -0 "$manager" 2>/dev/null && fail "the manager did not quit"
echo "demo: Tarvane quit; its log:"
tr -d '\r' < "$kit/Tarvane.log" | sed 's/^/  /'
