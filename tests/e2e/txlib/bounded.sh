# Bounded memory: a program whose embedded library holds a member of nearly
# 2 GiB (a hole in a sparse file) is listed, shown and read from with the
# memory of a small one, and programs of 96 MiB are rewritten by streaming.
# Peak memory is measured natively only (peakrss); elsewhere the scenario is
# skipped.
. "$(dirname "$0")/common.sh"

if [ -z "${TXLIB_PEAK:-}" ] || [ "$TXLIB_MODE" = wine ]; then
    echo "[$scenario] skipped: peak memory is measured natively only"
    exit 77
fi

limit=65536 # KiB; a sanitized txlib starts at about 30 MiB

# measured ARGS...: txlib ARGS under peakrss, which must stay under the limit.
measured() {
    run "$TXLIB_PEAK" peak "$TXLIB" "$@"
    kib=$(cat peak 2>/dev/null || echo unknown)
    [ "$kib" != unknown ] && [ "$kib" -le "$limit" ] ||
        fail "txlib $*: peak memory $kib KiB, more than $limit KiB"
}

# le32 N: printf escapes of N as 4 little-endian bytes.
le32() {
    printf '\\%03o\\%03o\\%03o\\%03o' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255))
}

# u32 FILE OFFSET: the 32-bit little-endian number at OFFSET.
u32() {
    od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '
}

# grown NAME SIZE: a copy of small.exe as NAME whose member HUGE.BIN (entry 1)
# is SIZE bytes long, all of them a hole.
grown() {
    cp small.exe "$1"
    entry=$((base + 128 + 48))
    data=$(u32 "$1" $((entry + 23)))
    patch "$1" $((entry + 19)) "$(le32 "$2")"
    patch "$1" $((entry + 27)) "$(le32 "$2")"
    truncate -s $((base + data + $2)) "$1"
}

head -c 771 /dev/urandom >SMALL.TXT
printf 'x' >HUGE.BIN
txlib create app.lib
txlib add app.lib SMALL.TXT HUGE.BIN
put_probe host
txlib embed host app.lib -o small.exe
expect_status 0 "the program with its small library"
txlib info small.exe
base=$(sed -n 's/^embedded library:  at offset \([0-9]*\) .*/\1/p' out)
[ -n "$base" ] || { fail "no embedded library in small.exe"; finish; }

huge=2000000000
grown big.exe $huge
measured list big.exe
expect_status 0 "list on the large program"
expect_match "^HUGE\\.BIN +$huge " "list on the large program"
measured info big.exe
expect_status 0 "info on the large program"
expect_match "^embedded library:  at offset $base " "info on the large program"
measured info big.exe --json
expect_status 0 "info --json on the large program"
expect_match '"members": 2' "info --json on the large program"
measured slots big.exe
expect_status 0 "slots on the large program"
mkdir x
measured extract big.exe SMALL.TXT -d x
expect_status 0 "extract from the large program"
same_file SMALL.TXT x/SMALL.TXT "a small member of the large program"

# Rewritten programs and libraries pass through a fixed buffer.
mid=$((96 * 1024 * 1024))
grown mid.exe $mid
measured slots mid.exe --set project=X.PRJ
expect_status 0 "slots --set on a program of 96 MiB"
measured unembed mid.exe -o mid.lib
expect_status 0 "unembed from a program of 96 MiB"
[ "$(wc -c <mid.lib)" -eq $(($(wc -c <mid.exe) - base)) ] || fail "unembed: the library is not whole"
measured embed host mid.lib -o mid2.exe
expect_status 0 "embed of a library of 96 MiB"
tail -c +$((base + 1)) mid2.exe | cmp -s - mid.lib || fail "embed: the library is not whole"
run ./mid.exe
expect_line "slot 5=X.PRJ" "the streamed program's slot"
expect_line "member HUGE.BIN $mid" "the streamed program's library"
rm -f big.exe mid.exe mid.lib mid2.exe

finish
