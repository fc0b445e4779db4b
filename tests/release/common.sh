# Shared by the release checks: a fresh scratch directory, failures counted,
# reading little-endian fields of a file, and a demo library started by a
# launcher.
#
# CTest sets:
#   TXREL_SCRATCH   directory for the scratch directories
#   TXREL_VERSION   the project's version
#   TXREL_BUILD     the build tree (its CPackConfig.cmake makes the package)
#   TXREL_CPACK     the cpack program

set -u

failures=0
check=$(basename "$0" .sh)
work=$TXREL_SCRATCH/$check
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1
export LC_ALL=C

fail() {
    echo "FAIL [$check] $*"
    failures=$((failures + 1))
}

finish() {
    if [ "$failures" -gt 0 ]; then
        echo "[$check] $failures failure(s)"
        exit 1
    fi
    echo "[$check] passed"
    exit 0
}

# make_package GENERATOR: the package made by CPack from this build tree,
# into ./pkg; its path in $package.
make_package() {
    if ! "$TXREL_CPACK" --config "$TXREL_BUILD/CPackConfig.cmake" -G "$1" -B "$work/pkg" \
        >cpack.log 2>&1; then
        fail "cpack -G $1 failed:"
        sed 's/^/    /' cpack.log
        finish
    fi
    package=$(find "$work/pkg" -maxdepth 1 -type f -name "*$TXREL_VERSION*" | head -n 1)
    [ -n "$package" ] || { fail "cpack -G $1 made no package named with version $TXREL_VERSION"; finish; }
}

# same_lines WHAT EXPECTED ACTUAL: the two files hold the same lines.
same_lines() {
    if ! diff -u "$2" "$3" >diff.out; then
        fail "$1 differs (expected, then actual):"
        sed 's/^/    /' diff.out
    fi
}

# u16 FILE OFFSET, u32 FILE OFFSET: a little-endian field, in decimal.
u16() {
    od -An -t u2 -j "$2" -N 2 "$1" | tr -d ' '
}
u32() {
    od -An -t u4 -j "$2" -N 4 "$1" | tr -d ' '
}

# first_rsrc FILE: the offset of the first text ".rsrc" in FILE, which is
# where the launcher's own scan stops.
first_rsrc() {
    grep -boaF .rsrc "$1" | head -n 1 | cut -d: -f1
}

# demo_library DIR RUNTIME: DIR/DEMO.LIB, a library made with $txlib (a
# command run in DIR) holding RUNTIME as TX413EXE.DLL.
demo_library() {
    mkdir -p "$1"
    cp "$2" "$1/TX413EXE.DLL"
    touch -d '2024-03-15 10:30:00' "$1/TX413EXE.DLL"
    (cd "$1" && $txlib -q create DEMO.LIB && $txlib -q add DEMO.LIB TX413EXE.DLL) >"$1/txlib.log" 2>&1 ||
        fail "txlib could not make the demo library in $1: $(cat "$1/txlib.log" "$1/run.out" 2>/dev/null)"
}

# The runtime answers the version check, then ends the screen.
demo_replies='OPTION,VERSION => value 4.10A
ecran,saisie => code FIN'

# check_demo_run DIR STATUS RUNTIME: after a launcher with the demo library
# embedded ran in DIR and ended with STATUS, it extracted RUNTIME and drove it
# from start to end.
check_demo_run() {
    [ "$2" -eq 1 ] || fail "$1: the launcher ended with status $2, not 1 (a full run)"
    cmp -s "$1/TX413EXE.DLL" "$3" || fail "$1: TX413EXE.DLL was not extracted whole"
    if [ ! -f "$1/TXTRACE.LOG" ]; then
        fail "$1: the trace runtime wrote no trace"
        return
    fi
    grep -q '^TX4InitInstance .* -> 1$' "$1/TXTRACE.LOG" ||
        fail "$1: the runtime was not initialised: $(cat "$1/TXTRACE.LOG")"
    grep -q '^TXCALLC OPTION,VERSION => value 4.10A$' "$1/TXTRACE.LOG" ||
        fail "$1: the runtime was not asked its version: $(cat "$1/TXTRACE.LOG")"
    [ "$(tail -n 1 "$1/TXTRACE.LOG")" = FinInstance ] ||
        fail "$1: the runtime was not unloaded at the end: $(cat "$1/TXTRACE.LOG")"
}

# check_slots OUTPUT: OUTPUT (of txlib -v slots) shows all eleven stored
# entries of the reference launcher with their stored lengths.
check_slots() {
    for entry in 1:126 2:126 3:126 4:126 5:126 6:126 7:126 8:126 9:100 10:132 11:132; do
        id=${entry%:*}
        length=${entry#*:}
        grep -Eq "^ +entry $id +$length characters: " "$1" ||
            fail "$1: txlib does not read entry $id at its stored length of $length"
    done
}
