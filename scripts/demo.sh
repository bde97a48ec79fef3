#!/usr/bin/env bash
# Builds the programs and runs them on a demo kit under Wine.
#   scripts/demo.sh
# With a DISPLAY the extension editor opens there and the script waits
# until it is closed. Without one it runs on a virtual display, saves a
# screenshot of the window as a PNG, prints its path, closes the editor and
# stops. BUILD_DIR (default: build) is shared with scripts/test.sh.
# The programs are the 32-bit ones as they ship where this machine runs
# 32-bit code (see README), the 64-bit build of the same sources elsewhere.
set -eEuo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
jobs=${JOBS:-$(nproc)}
SCRIPT_NAME=demo
. "$root/scripts/common.sh"

step "the set-up (scripts/setup.sh)" bash "$root/scripts/setup.sh"

probe_dir=$(mktemp -d)
if kernel_runs_ia32 "$probe_dir" && wine_loader win32 >/dev/null; then
    tree=x86 arch=win32 toolchain=mingw-i686
else
    tree=x64 arch=win64 toolchain=mingw-x86_64
fi
rmdir "$probe_dir"
echo "demo: the programs of $build/$tree"

step "configuring $build/$tree" cmake -S "$root" -B "$build/$tree" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake"
# The demo's programs only; the tests are scripts/test.sh's business.
demo_targets=(Morvex)
step "building ${demo_targets[*]}" cmake --build "$build/$tree" -j "$jobs" --target "${demo_targets[@]}" -- --no-print-directory

had_display=${DISPLAY:-}
. "$root/scripts/wine-env.sh"
trap wine_env_stop EXIT
wine_env_start "$build/$tree" "$arch" 1

# The demo php.ini goes where the editor looks for it: the Windows directory.
windir=$("$WINE" cmd /c echo %windir% </dev/null 2>/dev/null | tr -d '\r')
windir_unix=$("$WINE" winepath -u "$windir" </dev/null 2>/dev/null)
if [ -z "$windir" ] || [ ! -d "$windir_unix" ]; then
    echo "demo: the Windows directory of $WINEPREFIX was not found (\"$windir\", \"$windir_unix\")" >&2
    exit 1
fi
cp "$root/demo/php.ini" "$windir_unix/php.ini"
echo "demo: php.ini copied to $windir\\php.ini"

title="VAV Ozuvuzuded Avedo"
"$WINE" "$build/$tree/bin/Morvex.exe" </dev/null >/dev/null 2>&1 &
morvex=$!

if [ -n "$had_display" ] && [ -z "$WINE_ENV_XVFB_PID" ]; then
    echo "demo: Morvex runs on $DISPLAY; close it to end the demo"
    wait "$morvex" || true
    echo "demo: php.ini after the session: $windir_unix/php.ini"
    exit 0
fi

# Virtual display: wait for the window, photograph it, close it.
window=""
for _ in $(seq 1 100); do
    window=$(xwininfo -root -tree 2>/dev/null | grep -F "\"$title\"" | awk '{print $1}' | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.2
done
if [ -z "$window" ]; then
    if kill -0 "$morvex" 2>/dev/null; then
        echo "demo: the window \"$title\" did not appear" >&2
    else
        rc=0
        wait "$morvex" || rc=$?
        echo "demo: Morvex.exe ended (exit $rc) before its window appeared" >&2
    fi
    kill "$morvex" 2>/dev/null || true
    exit 1
fi
sleep 1
shot="$build/morvex-demo.png"
geometry=$(xwininfo -id "$window" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF}
                                       /Width:/{w=$NF} /Height:/{h=$NF} END{printf "%dx%d+%d+%d", w, h, x, y}')
import -window root -crop "$geometry" +repage "$shot"
echo "demo: screenshot of Morvex: $shot"

# Close it as the close box would: taskkill without /f sends WM_CLOSE.
"$WINE" taskkill /im Morvex.exe </dev/null >/dev/null 2>&1 || true
for _ in $(seq 1 50); do
    kill -0 "$morvex" 2>/dev/null || break
    sleep 0.2
done
kill "$morvex" 2>/dev/null || true
wait "$morvex" 2>/dev/null || true
echo "demo: Morvex closed"
