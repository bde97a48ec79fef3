# Sourced by the scripts: reporting a failed step, the probe for 32-bit
# x86 code and the choice of the Wine loader.
#   step WHAT COMMAND...     runs COMMAND with its output kept aside; when it
#                            fails, prints WHAT, the exit code, the first
#                            error lines and the end of that output, and ends
#                            the script with the code
#   kernel_runs_ia32 DIR     true when this kernel runs 32-bit x86 programs
#   wine_loader ARCH         the Wine loader for a win32 or win64 prefix
# Every other failing command ends the script through the ERR trap, which
# names the command and its line. SCRIPT_NAME names the script in messages.

SCRIPT_NAME=${SCRIPT_NAME:-$(basename "$0" .sh)}

trap 'rc=$?; echo "$SCRIPT_NAME: failed (exit $rc) at line $LINENO: $BASH_COMMAND" >&2; exit $rc' ERR

step() {
    local what=$1 log rc=0
    shift
    log=$(mktemp)
    "$@" >"$log" 2>&1 || rc=$?
    if [ $rc -ne 0 ]; then
        echo "$SCRIPT_NAME: $what failed (exit $rc): $*" >&2
        # The first errors (a parallel build goes on after them), then the end.
        grep -m 20 -E 'error|Error' "$log" >&2 || true
        echo "..." >&2
        tail -n 30 "$log" >&2
        rm -f "$log"
        trap - ERR
        exit $rc
    fi
    rm -f "$log"
}

# A static 32-bit x86 Linux program of 93 bytes, written here byte by byte:
# an ELF header, one loadable segment, and the code
#   xor ebx,ebx; mov bl,42; xor eax,eax; inc eax; int 0x80   (exit(42)).
# A kernel without IA-32 emulation refuses to start it (or kills it); one
# with it returns 42. Asking the kernel is the only sure way: the option can
# be built in and still be switched off at boot.
kernel_runs_ia32() {
    local dir=$1 program rc=0
    program="$dir/ia32-probe"
    mkdir -p "$dir"
    {
        printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00'
        printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
        printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'
        printf '\x00\x00\x00\x00'
        printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
        printf '\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
        printf '\x31\xdb\xb3\x2a\x31\xc0\x40\xcd\x80'
    } >"$program"
    chmod +x "$program"
    ( "$program" ) >/dev/null 2>&1 || rc=$?
    rm -f "$program"
    [ $rc -eq 42 ]
}

# Debian's wine and wine64 packages put the two loaders here; the plain
# "wine" command prefers the 32-bit one whenever wine32 is installed, which
# cannot start in a 64-bit prefix made without it. The scripts therefore
# name the loader that fits each prefix.
WINE_LOADER_DIR=${WINE_LOADER_DIR:-/usr/lib/wine}

wine_loader() {
    local loader
    case $1 in
        win32) loader=$WINE_LOADER_DIR/wine ;;
        win64) loader=$WINE_LOADER_DIR/wine64 ;;
        *) return 1 ;;
    esac
    [ -x "$loader" ] || return 1
    echo "$loader"
}
