#!/usr/bin/env bash
# Builds everything and runs every test under Wine.
#   scripts/test.sh [ctest arguments...]     e.g. scripts/test.sh -R Morvex
# BUILD_DIR (default: build) holds the two build trees and the Wine prefix.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
jobs=${JOBS:-$(nproc)}

bash "$root/scripts/setup.sh"

# TARGETS="a b" builds only those targets of the 64-bit tree (a quick
# loop while working on one part); the default builds everything.
targets=${TARGETS:-}

if [ -z "$targets" ]; then
# The programs as they ship: 32-bit.
cmake -S "$root" -B "$build/x86" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
      -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build/x86" -j "$jobs" -- --no-print-directory >/dev/null
fi

# The same sources for the host that runs them (see README: 64-bit only).
cmake -S "$root" -B "$build/x64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null
if [ -n "$targets" ]; then
    # shellcheck disable=SC2086
    cmake --build "$build/x64" -j "$jobs" --target $targets -- --no-print-directory >/dev/null
else
    cmake --build "$build/x64" -j "$jobs" -- --no-print-directory >/dev/null
fi

. "$root/scripts/wine-env.sh"
trap wine_env_stop EXIT
wine_env_start "$build/x64"

cd "$build/x64"
ctest --output-on-failure --timeout 300 "$@"
