# Writing a library that is reached through a link, has other names, or is
# protected; names planted where the temporary file would go; and what an
# interrupted command left behind.
. "$(dirname "$0")/common.sh"

printf 'abc' >a.txt
printf 'defg' >b.txt
txlib create real.lib
txlib add real.lib a.txt
expect_status 0 "a first member"

# unchanged FILE WHAT: FILE is as it was saved in FILE.before.
unchanged() {
    same_file "$1.before" "$1" "$2: $1 changed"
}

if [ "$TXLIB_MODE" = native ]; then
    # Links planted under the names an earlier txlib would have used for its
    # temporary file (NAME.txlib-PID-N, PID its own) are not written through.
    run sh -c 'for n in 0 1 2; do ln -s "$PWD/victim" "real.lib.txlib-$$-$n"; done
               exec "$1" add real.lib b.txt' sh "$TXLIB"
    expect_status 0 "an add beside planted links"
    [ ! -e victim ] || fail "an add wrote through a link planted at its temporary name"
    rm -f real.lib.txlib-*

    # A symbolic link is followed: its target is rewritten and the link stays.
    ln -s real.lib link.lib
    txlib add link.lib b.txt --as C.TXT
    expect_status 0 "an add through a symbolic link"
    [ -L link.lib ] || fail "the symbolic link was replaced by a copy"
    txlib list real.lib
    expect_match '^C\.TXT ' "the member added through the link is in its target"
    ln -s nowhere.lib dangling.lib
    txlib create dangling.lib
    expect_status 2 "create through a link that leads nowhere"
    expect_error "leads nowhere" "create through a link that leads nowhere"
    [ ! -e nowhere.lib ] || fail "create wrote through a link that leads nowhere"

    # Mode, owner and group are kept.
    chmod 0640 real.lib
    [ "$(id -u)" = 0 ] && chown nobody:nogroup real.lib
    kept=$(stat -c '%a %U %G' real.lib)
    txlib add real.lib b.txt --as D.TXT
    expect_status 0 "an add to a library of mode 0640"
    [ "$(stat -c '%a %U %G' real.lib)" = "$kept" ] ||
        fail "mode, owner and group were $kept, now $(stat -c '%a %U %G' real.lib)"
    chown "$(id -u):$(id -g)" real.lib
    chmod 0644 real.lib

    # Another user may not replace a library they cannot write, even in a
    # directory they can write.
    if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
        mkdir -m 0777 shared
        cp real.lib shared/root.lib
        cp shared/root.lib shared/root.lib.before
        run setpriv --reuid=nobody --regid=nogroup --clear-groups "$TXLIB" add shared/root.lib b.txt
        expect_status 2 "an add by another user"
        expect_error "read-only" "an add by another user"
        unchanged shared/root.lib "an add by another user"
    fi
fi

# Refused, with nothing written: a library with another name (hard link),
# and a read-only one.
cp real.lib hard.lib
ln hard.lib other.lib
cp hard.lib hard.lib.before
txlib add hard.lib b.txt --as E.TXT
expect_status 2 "an add to a library with two names"
expect_error "hard links" "an add to a library with two names"
unchanged hard.lib "an add to a library with two names"
rm -f other.lib
cp real.lib ro.lib
chmod 0444 ro.lib
cp ro.lib ro.lib.before
txlib add ro.lib b.txt --as E.TXT
expect_status 2 "an add to a read-only library"
expect_error "read-only" "an add to a read-only library"
unchanged ro.lib "an add to a read-only library"
chmod 0644 ro.lib
no_leftovers "refused writes"

# What an interrupted txlib left (its temporary file, under the name of a
# process that has ended) goes with the next command that writes the same
# library, which says so. That of a process still running stays.
sh -c 'exit 0' &
wait
dead=$!
printf 'half a library' >"real.lib.txlib-$dead-0"
printf 'half a library' >"real.lib.txlib-$dead-0badf00d"
if [ "$TXLIB_MODE" = native ]; then
    printf 'being written' >"real.lib.txlib-$$-00c0ffee"
fi
txlib add real.lib b.txt --as F.TXT
expect_status 0 "an add beside leftovers"
for leftover in "real.lib.txlib-$dead-0" "real.lib.txlib-$dead-0badf00d"; do
    [ ! -e "$leftover" ] || fail "$leftover was left"
    grep -qF "removed $leftover" err || fail "removing $leftover was not told"
done
if [ "$TXLIB_MODE" = native ]; then
    [ -e "real.lib.txlib-$$-00c0ffee" ] || fail "the temporary file of a running process was removed"
    rm -f "real.lib.txlib-$$-00c0ffee"
fi
no_leftovers "leftovers"

finish
