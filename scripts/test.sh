#!/usr/bin/env bash
# Builds everything and runs every test under Wine: on the 32-bit tree (the
# programs as they ship) where this machine runs 32-bit code, and on the
# 64-bit tree.
#   scripts/test.sh [ctest arguments...]     e.g. scripts/test.sh -R Morvex
# BUILD_DIR (default: build) holds the two trees, each with its own Wine
# prefix. TARGETS="a b" builds only those targets (a quick loop) of the
# trees in TREES, which defaults to "x64" with TARGETS and to "x86 x64"
# without.
set -eEuo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
jobs=${JOBS:-$(nproc)}
SCRIPT_NAME=test
. "$root/scripts/common.sh"

step "the set-up (scripts/setup.sh)" bash "$root/scripts/setup.sh"

targets=${TARGETS:-}
if [ -n "$targets" ]; then
    trees=${TREES:-x64}
else
    trees=${TREES:-x86 x64}
fi

bits() { tree_bits "$1"; }

# Both trees carry the test programs: a calling convention or a record
# size that is wrong for 32-bit Windows fails the build everywhere.
for tree in $trees; do
    step "configuring the $(bits "$tree")-bit tree" \
        cmake -S "$root" -B "$build/$tree" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$(tree_toolchain "$tree").cmake" \
        -DBUILD_TESTING=ON
    if [ -n "$targets" ]; then
        # shellcheck disable=SC2086
        step "building $targets in the $(bits "$tree")-bit tree" \
            cmake --build "$build/$tree" -j "$jobs" --target $targets -- --no-print-directory
    else
        step "building the $(bits "$tree")-bit tree" cmake --build "$build/$tree" -j "$jobs" -- --no-print-directory
    fi
done

# The sizes of the programs as they ship (32-bit, static, stripped).
if [ -z "$targets" ] && [[ " $trees " == *" x86 "* ]]; then
    sizes=""
    for program in Tarvane:250 Morvex:120; do
        name=${program%%:*} goal=${program##*:}
        file="$build/x86/bin/$name.exe"
        [ -f "$file" ] || continue
        bytes=$(stat -c %s "$file")
        sizes+="${sizes:+, }$name.exe $(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1024 }') KB (goal $goal KB)"
    done
    echo "sizes as shipped (32-bit): $sizes"
fi

# The 32-bit tree runs where the kernel runs 32-bit x86 code and wine32 is
# installed; otherwise one line says why it does not.
run=()
for tree in $trees; do
    if why=$(tree_can_run "$tree"); then
        run+=("$tree")
    elif [ "$tree" = x86 ]; then
        echo "test: $why: the 32-bit tree is built, its tests run on the 64-bit tree"
    else
        echo "test: $why: the $(bits "$tree")-bit tree is built, its tests do not run"
    fi
done

. "$root/scripts/wine-env.sh"
trap wine_env_stop EXIT

# One tree: ctest's own report ends the output.
if [ ${#run[@]} -eq 1 ]; then
    tree=${run[0]}
    wine_env_start "$build/$tree" "$(tree_arch "$tree")"
    cd "$build/$tree"
    rc=0
    ctest --output-on-failure --timeout 300 "$@" || rc=$?
    exit $rc
fi
if [ ${#run[@]} -eq 0 ]; then
    echo "test: no tree whose tests can run here (TREES=$trees)" >&2
    exit 1
fi

# Two trees, one after the other (each with its own prefix and wineserver);
# the closing lines add up both runs the way ctest reports one.
total=0 failed=0 seconds=0 status=0 report=()
for tree in "${run[@]}"; do
    echo "test: the $(bits "$tree")-bit tree ($build/$tree)"
    wine_env_start "$build/$tree" "$(tree_arch "$tree")"
    log=$(mktemp)
    rc=0
    (cd "$build/$tree" && ctest --output-on-failure --timeout 300 "$@") 2>&1 | tee "$log" || rc=$?
    wine_env_stop
    [ $rc -eq 0 ] || status=1
    summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
    time_line=$(grep -E '^Total Test time \(real\) = ' "$log" | tail -n 1 || true)
    if [ -n "$summary" ]; then
        t=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
        f=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$summary")
    else
        # No summary: ctest found no test or did not finish.
        t=0 f=0
        [ $rc -eq 0 ] || f=1
        summary="no test run (ctest exit $rc)"
    fi
    s=$(sed -E 's/.*= *([0-9.]+) sec.*/\1/' <<<"${time_line:-= 0 sec}")
    total=$((total + t)) failed=$((failed + f))
    seconds=$(awk -v a="$seconds" -v b="$s" 'BEGIN { printf "%.2f", a + b }')
    report+=("$(bits "$tree")-bit tree: $summary (${s} sec)")
    while read -r line; do report+=("  $(bits "$tree")-bit $line"); done \
        < <(sed -n '/^The following tests FAILED:/,/^$/{/^[[:space:]]*[0-9]/p}' "$log")
    rm -f "$log"
done

echo
printf '%s\n' "${report[@]}"
passed=$((total - failed))
percent=0
if [ $total -gt 0 ]; then
    percent=$(( (passed * 100 + total / 2) / total ))
    if [ $failed -gt 0 ] && [ $percent -eq 100 ]; then percent=99; fi
fi
echo
echo "$percent% tests passed, $failed tests failed out of $total"
echo
echo "Total Test time (real) = $seconds sec"
exit $status
