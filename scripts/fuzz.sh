#!/usr/bin/env bash
# The long fuzz run: builds the fuzz program of the 64-bit tree and runs it
# under Wine in two passes:
#   1. COUNT inputs per target (default 1000000), guard pages and the
#      undefined-behaviour checks;
#   2. HEAP_COUNT inputs per target (default 20000, a tenth of it for the
#      loader) with Wine's heap checks on as well (tail and free checks,
#      the whole heap validated at every heap call: a thousand times
#      slower), through the GlobalFlag of the program in the prefix's Image
#      File Execution Options, removed after.
# Further arguments go to the program (--seed S, --only NAME, --load-count N).
# TREE=x86 runs the 32-bit tree's program (where 32-bit code runs).
#   scripts/fuzz.sh [count] [arguments...]
set -eEuo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
SCRIPT_NAME=fuzz
. "$root/scripts/common.sh"
build=${BUILD_DIR:-$root/build}
count=${1:-1000000}
shift || true
heap_count=${HEAP_COUNT:-20000}
tree=${TREE:-x64}
toolchain=$(tree_toolchain "$tree")
arch=$(tree_arch "$tree")

step "the set-up (scripts/setup.sh)" bash "$root/scripts/setup.sh"
if ! why=$(tree_can_run "$tree"); then
    echo "fuzz: $why: the $(tree_bits "$tree")-bit fuzz program cannot run here" >&2
    exit 1
fi
step "configuring the $(tree_bits "$tree")-bit tree" \
    cmake -S "$root" -B "$build/$tree" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" -DBUILD_TESTING=ON
step "building tarvane_fuzz in the $(tree_bits "$tree")-bit tree" \
    cmake --build "$build/$tree" -j "${JOBS:-$(nproc)}" --target tarvane_fuzz -- --no-print-directory

. "$root/scripts/wine-env.sh"
ifeo='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Image File Execution Options\tarvane_fuzz.exe'
finish() {
    [ -z "${WINE:-}" ] || "$WINE" reg delete "$ifeo" /f </dev/null >/dev/null 2>&1 || true
    wine_env_stop
}
trap finish EXIT
wine_env_start "$build/$tree" "$arch" || { echo "fuzz: starting Wine on $build/$tree failed" >&2; exit 1; }
cd "$build/$tree"

# Success is the program's last line: Wine may end a process whose heap
# broke with exit code 0.
run() {
    local log=$1
    shift
    "$WINE" bin/tarvane_fuzz.exe "$@" | tee "$log"
    grep -q '^fuzz: every input read as the reference reads it' "$log"
}

echo "== $count inputs per target"
run fuzz.log --count "$count" "$@"
echo "== $heap_count inputs per target with Wine's heap checks"
# FLG_HEAP_ENABLE_TAIL_CHECK | FLG_HEAP_ENABLE_FREE_CHECK | FLG_HEAP_VALIDATE_ALL
"$WINE" reg add "$ifeo" /v GlobalFlag /t REG_DWORD /d 0xB0 /f </dev/null >/dev/null 2>&1
run fuzz-heap.log --count "$heap_count" --load-count $((heap_count / 10)) --seed 2 "$@"
