#!/bin/sh
# scripts/wine-run picks the Wine loader from the program's PE header, and
# stops with one line where a 32-bit program cannot run. The programs are
# made here: just the headers the choice reads.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
run=$root/scripts/wine-run
work=${TMPDIR:-/tmp}/wine_run.$$
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
failed=0
check() { # WHAT EXPECTED ACTUAL
    [ "$2" = "$3" ] || { echo "FAIL $1: expected [$2], got [$3]"; failed=1; }
}

# pe FILE MAGIC_HIGH_BYTE: "MZ", e_lfanew 64 at offset 60, "PE\0\0" at 64, a
# file header, then the optional header magic 0x10b (PE32) or 0x20b (PE32+).
pe() {
    {
        printf 'MZ'
        head -c 58 /dev/zero
        printf '\100\000\000\000PE\000\000'
        head -c 20 /dev/zero
        printf "\013\\$2"
        head -c 64 /dev/zero
    } >"$1"
}
pe "$work/p32.exe" 001
pe "$work/p64.exe" 002
printf 'MZ not a PE program' >"$work/mz.exe"

check "PE32+ loader" /usr/lib/wine/wine64 "$("$run" --loader "$work/p64.exe")"
if "$root/scripts/can-run-32bit"; then
    check "PE32 loader" /usr/lib/wine/wine "$("$run" --loader "$work/p32.exe")"
else
    echo "wine_run: this machine cannot run 32-bit programs; the PE32 loader is checked as refused only"
fi
"$run" --loader "$work/mz.exe" >/dev/null 2>&1
check "a file that is no PE program" 2 "$?"

# Where 32-bit programs cannot run, a PE32 program is refused in one line,
# with status 126, before Wine is started.
out=$(TX_ASSUME_NO_32BIT=1 "$run" --prefix "$work/prefix" "$work/p32.exe" 2>&1)
check "status of a refused 32-bit program" 126 "$?"
check "lines said" 1 "$(printf '%s\n' "$out" | wc -l)"
case "$out" in
"wine-run: cannot run a 32-bit Windows program here: "*) ;;
*) check "message" "wine-run: cannot run a 32-bit Windows program here: ..." "$out" ;;
esac
[ ! -e "$work/prefix" ] || { echo "FAIL: a prefix was made for a refused program"; failed=1; }

[ $failed = 0 ] && echo "wine_run: passed"
exit $failed
