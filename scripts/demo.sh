#!/usr/bin/env bash
# Builds the programs and runs them on a demo kit under Wine.
#   scripts/demo.sh [--update-readme]
# Lays out a kit (the manager, the extension editor and the stand-in
# servers) in the prefix's C:\Tarvane, starts the manager, which starts the
# stack, and waits until both servers run. With a DISPLAY the manager stays
# there for you and the script waits until you quit it. Without one it runs
# on a virtual display, saves screenshots, prints their paths, then quits
# the manager, which stops the stack; --update-readme then copies the
# screenshots to docs/screenshots. BUILD_DIR (default: build) is shared with
# scripts/test.sh. The programs are the 32-bit ones as they ship where this
# machine runs 32-bit code (see README), the 64-bit build elsewhere.
set -eEuo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
jobs=${JOBS:-$(nproc)}
SCRIPT_NAME=demo
. "$root/scripts/common.sh"
fail() { echo "demo: $*" >&2; exit 1; }

step "the set-up (scripts/setup.sh)" bash "$root/scripts/setup.sh"

tree=$(shipped_tree)
arch=$(tree_arch "$tree")
toolchain=$(tree_toolchain "$tree")
echo "demo: the programs of $build/$tree"

step "configuring $build/$tree" cmake -S "$root" -B "$build/$tree" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake"
demo_targets=(Tarvane Morvex kitprograms tvdemo)
step "building ${demo_targets[*]}" cmake --build "$build/$tree" -j "$jobs" --target "${demo_targets[@]}" -- --no-print-directory
bin="$build/$tree/bin"

had_display=${DISPLAY:-}
. "$root/scripts/wine-env.sh"
trap wine_env_stop EXIT
wine_env_start "$build/$tree" "$arch" 1 || fail "starting Wine failed"
wine() { "$WINE" "$@"; }
tvdemo() { wine "$bin/tvdemo.exe" "$@" </dev/null 2>&1 | tr -d '\r'; }

# The kit: C:\Tarvane with the programs, Apache's and MySQL's folders, the
# local web pages; php.ini in the Windows directory.
windir=$(wine cmd /c echo %windir% </dev/null 2>/dev/null | tr -d "\r")
windir_unix=$(wine winepath -u "$windir" </dev/null 2>/dev/null)
[ -n "$windir" ] && [ -d "$windir_unix" ] || fail "the Windows directory of $WINEPREFIX was not found"
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
# The local web site, as the browser would fetch it.
tvdemo fetch-local 'C:\Tarvane' || fail "the local web site did not answer"

if [ -n "$had_display" ] && [ -z "$WINE_ENV_XVFB_PID" ]; then
    echo "demo: Tarvane runs on $DISPLAY; quit it from its tray menu (Exit) to end the demo"
    wait "$manager" || true
    exit 0
fi

# Virtual display: photograph the windows, then quit.
shots=${DEMO_SHOTS:-$build/demo-shots}
mkdir -p "$shots"
shot() {  # shot TITLE FILE: one window, or the whole screen for TITLE "-"
    local window geometry
    if [ "$1" = "-" ]; then
        import -window root "$2"
    else
        window=$(xwininfo -root -tree 2>/dev/null | grep -F "\"$1\"" | awk '{print $1}' | head -n 1 || true)
        [ -n "$window" ] || fail "the window \"$1\" did not appear"
        # -frame: with the window manager's title bar, where there is one.
        geometry=$(xwininfo -frame -id "$window" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF}
                                                /Width:/{w=$NF} /Height:/{h=$NF} END{printf "%dx%d+%d+%d", w, h, x, y}')
        import -window root -crop "$geometry" +repage "$2"
    fi
    echo "demo: screenshot: $2"
}
sleep 1
shot "Tarvane" "$shots/manager.png"

# The tray menu, as a right click on the icon opens it.
tvdemo menu >/dev/null
sleep 1
window=$(xwininfo -root -tree 2>/dev/null | grep -F '"Tarvane"' | awk '{print $1}' | head -n 1)
geometry=$(xwininfo -id "$window" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF}
                                        /Width:/{w=$NF} END{printf "%dx%d+%d+%d", w + 220, 300, x, y}')
import -window root -crop "$geometry" +repage "$shots/tray-menu.png"
echo "demo: screenshot: $shots/tray-menu.png"
tvdemo close-menu >/dev/null || true

# The about dialog.
about=$(tvdemo about) || fail "the about dialog did not open"
sleep 1
shot "$about" "$shots/about.png"
tvdemo ok "$about" >/dev/null || true

# The extension editor, from the menu's command (offered while the stack is
# stopped).
wine 'C:\Tarvane\Tarvane.exe' /stop </dev/null >/dev/null 2>&1 || true
tvdemo wait-stopped 30 >/dev/null || fail "the stack did not stop"
editor="VAV Ozuvuzuded Avedo"
tvdemo command close >/dev/null  # the manager, kept on top, hides
tvdemo command extension-editor >/dev/null
tvdemo wait-window "$editor" 20 || fail "the extension editor did not open"
sleep 1
shot "$editor" "$shots/extension-editor.png"
wine taskkill /im Morvex.exe </dev/null >/dev/null 2>&1 || true

wine 'C:\Tarvane\Tarvane.exe' /quit </dev/null >/dev/null 2>&1 || true
for _ in $(seq 1 50); do kill -0 "$manager" 2>/dev/null || break; sleep 0.2; done
kill -0 "$manager" 2>/dev/null && fail "the manager did not quit"
sleep 1
tvdemo kit-processes || fail "programs of the kit are still running"
echo "demo: Tarvane quit, nothing of the kit runs any more; its log:"
tr -d '\r' < "$kit/Tarvane.log" | sed 's/^/  /'
if [ "${1:-}" = "--update-readme" ]; then
    mkdir -p "$root/docs/screenshots"
    cp "$shots"/*.png "$root/docs/screenshots/"
    echo "demo: screenshots copied to docs/screenshots"
fi
