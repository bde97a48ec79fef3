# Sourced by the scripts: reporting a failed step, the probe for 32-bit
# x86 code and the choice of the Wine loader.
#   step WHAT COMMAND...     runs COMMAND with its output kept aside; when it
#                            fails, prints WHAT, the exit code, the first
#                            error lines and the end of that output, and ends
#                            the script with the code
#   kernel_runs_ia32 DIR     true when this kernel runs 32-bit x86 programs
#   wine_loader ARCH         the Wine loader for a win32 or win64 prefix
#   tree_toolchain TREE, tree_arch TREE, tree_bits TREE
#                            a build tree's toolchain file, Wine prefix
#                            architecture and word size (the table below)
#   tree_can_run TREE        true when this machine runs the tree's
#                            programs; otherwise says why on stdout
#   shipped_tree             the tree whose programs a user here runs: x86
#                            where 32-bit code runs, x64 elsewhere
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

# The build trees, once: name, toolchain file (cmake/NAME.cmake), Wine
# prefix architecture (which names the loader), word size. x86 is what
# ships; x64 runs the same sources everywhere.
TREE_TABLE="x86 mingw-i686 win32 32
x64 mingw-x86_64 win64 64"

tree_field() {
    local name toolchain arch bits
    while read -r name toolchain arch bits; do
        if [ "$name" = "$1" ]; then
            case $2 in
                toolchain) echo "$toolchain" ;;
                arch) echo "$arch" ;;
                bits) echo "$bits" ;;
            esac
            return 0
        fi
    done <<<"$TREE_TABLE"
    echo "$SCRIPT_NAME: no build tree named '$1' (x86 or x64)" >&2
    return 1
}
tree_toolchain() { tree_field "$1" toolchain; }
tree_arch() { tree_field "$1" arch; }
tree_bits() { tree_field "$1" bits; }

# A tree's programs run here when the loader of its prefix is installed and,
# for 32-bit programs, the kernel runs 32-bit x86 code (asked, not assumed).
tree_can_run() {
    local arch rc=0 probe_dir
    arch=$(tree_arch "$1") || return 1
    if [ "$arch" = win32 ]; then
        probe_dir=$(mktemp -d)
        kernel_runs_ia32 "$probe_dir" || rc=1
        rmdir "$probe_dir"
        if [ $rc -ne 0 ]; then
            echo "this kernel cannot run 32-bit x86 programs (no IA-32 emulation)"
            return 1
        fi
    fi
    if ! wine_loader "$arch" >/dev/null; then
        [ "$arch" = win32 ] && echo "wine32 is not installed (scripts/setup.sh installs it as root)" \
            || echo "wine64 is not installed (scripts/setup.sh installs it as root)"
        return 1
    fi
}

shipped_tree() {
    if tree_can_run x86 >/dev/null; then echo x86; else echo x64; fi
}
