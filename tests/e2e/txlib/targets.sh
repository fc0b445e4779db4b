# Where extraction writes: never through a link inside its directory, never
# over a file it wrote for another member under another name, and a refused
# folder named with its own cause.
. "$(dirname "$0")/common.sh"

mkdir -p src/DOCS outside
printf 'x' >src/DOCS/X.TXT
printf 'a' >src/A.TXT
txlib create S.LIB -C src DOCS A.TXT

# A linked folder, a linked file and a link that leads nowhere, each in the
# way of a member: refused, nothing written outside, the link left as it is.
while read -r link to options; do
    rm -rf dest outside && mkdir dest outside
    ln -s "$to" "dest/$link"
    # shellcheck disable=SC2086
    txlib extract S.LIB -d dest $options
    [ -z "$(ls outside)" ] || fail "dest/$link -> $to $options: written outside: $(ls outside)"
    # Wine shows a link to a file, or to nothing, as no link at all: the
    # rename of the new file replaces the link, and nothing outside is written.
    [ "$TXLIB_MODE" = wine ] && [ "$link" != DOCS ] && continue
    expect_status 2 "extracting through dest/$link -> $to $options"
    [ -L "dest/$link" ] || fail "dest/$link -> $to $options: the link was replaced"
done <<'CASES'
DOCS ../outside
A.TXT ../outside/A.TXT
CASES

# With -k a link that leads nowhere is a file that exists: kept, and named.
rm -rf dest outside && mkdir dest outside
ln -s ../outside/A.TXT dest/A.TXT
txlib extract S.LIB -d dest -k
[ -z "$(ls outside)" ] || fail "-k: written outside: $(ls outside)"
if [ "$TXLIB_MODE" != wine ]; then
    expect_status 0 "-k over a link to nothing"
    expect_line "skipped dest/A.TXT: it exists" "-k: a link to nothing"
    [ -L dest/A.TXT ] || fail "-k: the link was replaced"
fi

# Two members that the system may take for one file: on Windows (Wine)
# REPO~33M.TXT is the short name of REPORTFINALX.TXT. Either both are
# written, each whole, or the second is refused and the first stays.
printf 'first member' >REPORTFINALX.TXT
printf 'second' >'REPO~33M.TXT'
txlib create ALIAS.LIB REPORTFINALX.TXT 'REPO~33M.TXT'
txlib extract ALIAS.LIB -d alias
same_file REPORTFINALX.TXT alias/REPORTFINALX.TXT "the first of two names"
if [ "$status" -eq 0 ]; then
    same_file 'REPO~33M.TXT' 'alias/REPO~33M.TXT' "the second of two names"
else
    grep -qF 'under another name' err || fail "two members, one file: the cause is not named"
fi

# Long names: written, or refused before anything is written with the limit
# that leaves room for the temporary name (a name of 229 characters; on
# Windows a whole path of 233). Nothing between fails unexplained.
mkdir long
for n in 100 200 225 229 230 240; do : >"long/$(printf "%0$((n - 4))d" 0).TXT"; done
txlib create LONG.LIB -C long .
for n in 100 200 225 229 230 240; do
    name=$(printf "%0$((n - 4))d" 0).TXT
    txlib extract LONG.LIB "$name" -d x
    full=$((${#work} + 5 + n)) # Z: + the scratch folder + \x\ + the name
    if [ "$n" -gt 229 ] || { [ "$TXLIB_MODE" = wine ] && [ "$full" -gt 233 ]; }; then
        expect_status 2 "a name of $n characters"
        grep -qF 'room for the temporary name' err || fail "a name of $n characters: no limit named"
        [ ! -e "x/$name" ] || fail "a name of $n characters was written"
    else
        expect_status 0 "a name of $n characters"
    fi
done

# A folder the system refuses to make: its own cause, not a later lookup's.
if [ "$TXLIB_MODE" = native ] && ! mkdir /sys/txlib-probe 2>/dev/null; then
    txlib extract S.LIB -d /sys/txlib-probe/out
    expect_status 2 "a folder that cannot be made"
    grep -qF 'Operation not permitted' err || fail "a refused folder is not named with its cause"
fi

finish
