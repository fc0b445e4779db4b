# Shared by the library tool's scenarios: runs the real txlib (under Wine in
# wine mode) in a fresh scratch directory and checks statuses, outputs and
# files.
#
# CTest sets:
#   TXLIB_MODE        wine or native
#   TXLIB             the tool
#   TXLIB_PROBE       the stand-in launcher (probe.cpp)
#   TXLIB_LAUNCHER    the real launcher, when it is built
#   TXLIB_SCRATCH     directory for the scratch directories
#   TXLIB_WINERUN, TXLIB_WINEPREFIX   how to run Windows programs

set -u

failures=0
scenario=$(basename "$0" .sh)
work=$TXLIB_SCRATCH/$scenario
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1

if [ "$TXLIB_MODE" = wine ]; then
    probe=PROBE.EXE
else
    probe=probe
fi

# run PROGRAM ARGS...: runs a program of the build; its standard output (line
# ends made plain) goes to ./out, its standard error to ./err, its status to
# $status.
run() {
    if [ "$TXLIB_MODE" = wine ]; then
        # Wine takes the command line as UTF-8 and hands it to the program
        # in the Windows code page.
        LC_ALL=C.UTF-8 "$TXLIB_WINERUN" --prefix "$TXLIB_WINEPREFIX" "$@" >out.raw 2>err.raw
    else
        "$@" >out.raw 2>err.raw
    fi
    status=$?
    tr -d '\r' <out.raw >out
    tr -d '\r' <err.raw >err
    # A sanitizer exits with status 1, which is also the tool's status for a
    # wrong command line: its report is what tells.
    if grep -q 'Sanitizer\|runtime error:' err; then fail "sanitizer report from $*"; fi
}

txlib() {
    run "$TXLIB" "$@"
}

# bare ARGS...: txlib ARGS with the caller's streams, as they are.
bare() {
    if [ "$TXLIB_MODE" = wine ]; then
        LC_ALL=C.UTF-8 "$TXLIB_WINERUN" --prefix "$TXLIB_WINEPREFIX" "$TXLIB" "$@"
    else
        "$TXLIB" "$@"
    fi
}

# put_probe NAME: a fresh copy of the stand-in launcher as NAME.
put_probe() {
    cp "$TXLIB_PROBE" "$1"
}

fail() {
    printf 'FAIL [%s] %s\n' "$scenario" "$*"
    echo "  stdout:"
    sed 's/^/    /' out 2>/dev/null
    echo "  stderr:"
    sed 's/^/    /' err 2>/dev/null
    failures=$((failures + 1))
}

# expect_status N WHAT
expect_status() {
    [ "$status" -eq "$1" ] || fail "$2: status $status, expected $1"
}

# expect_line TEXT WHAT: the output holds exactly this line.
expect_line() {
    grep -qxF -- "$1" out || fail "$2: no line \"$1\""
}

# expect_match PATTERN WHAT: some output line matches the extended pattern.
expect_match() {
    grep -qE -- "$1" out || fail "$2: no line matching /$1/"
}

# expect_error TEXT WHAT: standard error is one line naming the problem.
expect_error() {
    [ "$(wc -l <err)" -eq 1 ] || fail "$2: standard error is not one line"
    grep -qF -- "$1" err || fail "$2: standard error does not say \"$1\""
}

# same_file A B WHAT
same_file() {
    cmp -s "$1" "$2" || fail "$3: $1 and $2 differ"
}

# no_leftovers WHAT: no temporary output lies in the scratch directory.
no_leftovers() {
    if ls -a | grep -q 'txlib-'; then fail "$1: a temporary file was left: $(ls -a | grep txlib-)"; fi
}

# mtime FILE: last-write time in seconds since the epoch.
mtime() {
    date -r "$1" +%s
}

finish() {
    if [ "$failures" -gt 0 ]; then
        echo "[$scenario] $failures failure(s)"
        exit 1
    fi
    echo "[$scenario] passed"
    exit 0
}

# patch FILE OFFSET FORMAT [ARGS]: overwrites bytes of FILE at OFFSET with
# printf FORMAT ARGS.
patch() {
    file=$1
    offset=$2
    shift 2
    # shellcheck disable=SC2059
    printf "$@" | dd of="$file" bs=1 seek="$offset" conv=notrunc 2>/dev/null
}

# offset_of FILE TEXT: byte offset of the first TEXT in FILE.
offset_of() {
    grep -boaF -- "$2" "$1" | head -n 1 | cut -d: -f1
}

export LC_ALL=C
