# Embedded libraries: embed appends a library on an aligned offset and
# records that offset where the launcher looks for it; the stand-in launcher
# finds and opens it; list and unembed read it back; embedding again
# replaces it in place.
. "$(dirname "$0")/common.sh"

printf 'hello' >a.txt
head -c 3000 /dev/zero | tr '\0' 'z' >b.dat
touch -d '2024-03-05 10:20:30' a.txt
touch -d '2023-11-30 23:59:58' b.dat
txlib create app.lib
txlib add app.lib a.txt b.dat
expect_status 0 "building the library"

put_probe host
txlib embed host app.lib -o app.exe
expect_status 0 "embed"
no_leftovers "embed"
[ "$TXLIB_MODE" = wine ] || [ -x app.exe ] || fail "the embedded program is not executable"

txlib info app.exe
expect_status 0 "info on the program"
offset=$(sed -n 's/^embedded library:  at offset \([0-9]*\) .*/\1/p' out)
[ -n "$offset" ] || fail "info shows no embedded library"
offset=${offset:-0}
[ $((offset % 512)) -eq 0 ] || fail "the library offset $offset is not 512-aligned"
[ "$offset" -ge "$(wc -c <host)" ] || fail "the library starts inside the program"
[ "$(wc -c <app.exe)" -eq $((offset + $(wc -c <app.lib))) ] || fail "the library does not run to the end"
expect_match '^kind: +0 ' "info shows the embedded library's header"

run ./app.exe
expect_status 0 "the stand-in launcher with its library"
expect_line "offset=$offset" "the launcher's scan finds the recorded offset"
expect_line "library=0" "the launcher opens the embedded library"
expect_line "member A.TXT 5" "first member"
expect_line "member B.DAT 3000" "second member"

txlib list app.exe
expect_status 0 "list on the program"
expect_match '^A\.TXT +5  2024-03-05 10:20:30$' "list on the program"
expect_match '^B\.DAT +3000  2023-11-30 23:59:58$' "list on the program"

txlib unembed app.exe -o back.lib
expect_status 0 "unembed"
same_file app.lib back.lib "unembed gives the library back"

mkdir x
txlib extract app.exe a.txt -d x
expect_status 0 "extract from the program"
same_file x/A.TXT a.txt "a member extracted from the program"

# Embedding again replaces the library where it lies.
printf 'more' >c.txt
txlib add app.lib c.txt
txlib embed app.exe app.lib -o app2.exe
expect_status 0 "embedding again"
expect_match 'replacing the one embedded before' "embedding again"
[ "$(wc -c <app2.exe)" -eq $((offset + $(wc -c <app.lib))) ] || fail "the new library is not where the old one was"
run ./app2.exe
expect_line "offset=$offset" "the replaced library's offset"
expect_line "member C.TXT 4" "the replaced library's new member"

# An output that is one of the inputs, under whatever name, is refused and
# nothing changes.
cp app.exe app.before
cp app.lib lib.before
cp host host.before
while IFS='|' read -r args; do
    # shellcheck disable=SC2086
    txlib $args
    expect_status 2 "txlib $args"
    expect_error "write the output to another file" "txlib $args"
done <<'CASES'
unembed app.exe -o app.exe
unembed app.exe -o ./app.exe
embed host app.lib -o app.lib
embed host app.lib -o ./host
CASES
same_file app.before app.exe "unembed over its program"
same_file lib.before app.lib "embed over its library"
same_file host.before host "embed over its program"
no_leftovers "outputs that are inputs"

# The launcher opens only kind 0.
txlib create other.lib --kind 3
txlib embed host other.lib -o other.exe
expect_status 2 "a library of kind 3"
expect_error "kind 0" "a library of kind 3"
[ ! -e other.exe ] || fail "a refused embed wrote its output"
txlib embed host other.lib -o other.exe --any-kind
expect_status 0 "a library of kind 3 with --any-kind"
run ./other.exe
expect_line "library=4" "the launcher refuses a library of another kind"

# A recorded offset where no container begins (here the start of data
# appended to the program, then the end of the file) embeds nothing: the
# program is kept whole and the library follows it, aligned.
put_probe tail.exe
txlib info tail.exe
field=$(sed -n 's/^offset field at: *//p' out)
size=$(wc -c <tail.exe)
printf 'SYMBOLS' >>tail.exe
aligned=$(((size + 7 + 511) / 512 * 512))
for at in "$size" $((size + 7)); do
    patch tail.exe "${field:-0}" "$(printf '\\%03o' $((at & 255)) $((at >> 8 & 255)) $((at >> 16 & 255)) $((at >> 24)))"
    txlib embed tail.exe app.lib -o tail2.exe
    expect_status 0 "embed over a recorded offset $at with no container"
    grep -qF SYMBOLS tail2.exe || fail "embed over an offset $at with no container cut the program"
    txlib info tail2.exe
    expect_match "^embedded library:  at offset $aligned " "the library placed over offset $at"
done

# Control characters in the paths that summaries and info name are shown
# escaped (Windows file names cannot hold them).
if [ "$TXLIB_MODE" = native ]; then
    esc=$(printf 'x\033y')
    for args in "create $esc.lib a.txt" "embed host $esc.lib -o $esc.exe" "info $esc.exe" \
        "unembed $esc.exe -o $esc.2"; do
        # shellcheck disable=SC2086
        txlib $args
        expect_status 0 "txlib $args"
        if grep -q "$(printf '\033')" out; then fail "a control character reached the output of $args"; fi
    done
fi

# The real launcher takes a library too: the Windows one in its .rsrc header,
# the native one in its record.
if [ -n "${TXLIB_LAUNCHER:-}" ]; then
    cp "$TXLIB_LAUNCHER" launcher.exe
    txlib embed launcher.exe app.lib -o app3.exe
    expect_status 0 "embed into the launcher"
    txlib list app3.exe
    expect_match '^C\.TXT +4 ' "list on the launcher with its library"
fi

finish
