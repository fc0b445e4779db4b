# The command lines a user brings from other archivers: files from anywhere,
# delete and compact, -k that skips, -C as the folder extracted into,
# libraries from a pipe, patterns within one folder level, a program named
# as its library slot says.
. "$(dirname "$0")/common.sh"

if [ "$TXLIB_MODE" = wine ]; then
    sep='\'
    far="Z:$(printf '%s' "$PWD" | tr / '\\')\\far\\FAR.TXT"
else
    sep=/
    far=$PWD/far/FAR.TXT
fi
mkdir -p work/d/x far ex
printf 'a1\n' >work/A.TXT
printf 'b\n' >work/B.TXT
printf 'deep\n' >work/d/x/deep.txt
printf 'far\n' >far/FAR.TXT
printf 'old\n' >ex/A.TXT
printf 'junk\n' >junk
put_probe "work/$probe"
mkdir tmp
TMPDIR=$PWD/tmp
export TMPDIR
cd work || exit 1

# ARGS | STANDARD INPUT | STATUS | a line of standard output or error holds
while IFS='|' read -r args input want says; do
    eval "set -- $args"
    if [ -n "$input" ]; then txlib "$@" <"$input"; else txlib "$@" </dev/null; fi
    expect_status "$want" "$args"
    cat out err | grep -qF -- "$says" || fail "$args: no line holding \"$says\""
done <<CASES
create app.lib A.TXT B.TXT d||0|added D\\X\\DEEP.TXT (5 bytes)
add app.lib '$far'||0|txlib: $far: stored as FAR.TXT, its last part
add app.lib ../far/FAR.TXT --as NEAR.TXT||0|added NEAR.TXT (4 bytes)
add app.lib d/../d/x/deep.txt||0|replaced D\\X\\DEEP.TXT (5 bytes)
add app.lib ../far||0|added FAR\\FAR.TXT (4 bytes)
add app.lib ../far/FAR.TXT '$far'||2|would both be stored as FAR.TXT
list app.lib 'D\\*'||2|no member matches D\\*
list app.lib 'D\\**'||0|D\\X\\DEEP.TXT
list app.lib 'd/*/deep.txt'||0|D\\X\\DEEP.TXT
delete app.lib 'D\\**' B.TXT||0|deleted D\\X\\DEEP.TXT
list app.lib B.TXT||2|has no member B.TXT
delete app.lib TXBIBLI.LFN||2|is the long-name table, which follows the members; nothing deleted
delete app.lib NOPE.TXT||2|has no member NOPE.TXT; nothing deleted
add app.lib A.TXT||0|replaced A.TXT (3 bytes)
compact app.lib||0|app.lib: 5 members kept, 0 deleted entries dropped
compact app.lib||0|already compact
list app.lib 'FAR\\FAR.TXT'||0|FAR\\FAR.TXT
extract app.lib -k -C ../ex||0|skipped ../ex${sep}A.TXT: it exists
extract app.lib -d ../ex2 A.TXT||0|A.TXT (3 bytes)
list -|app.lib|0|NEAR.TXT
info -|app.lib|0|magic:
extract - -C ../piped FAR.TXT|app.lib|0|FAR.TXT (4 bytes)
list -|../junk|2|txlib: standard input: not a library container
list nosuch.lib||2|txlib: nosuch.lib: no such file
info nosuch.lib||2|txlib: nosuch.lib: no such file
embed $probe app.lib -o MYAPP.EXE||0|slot 3 says "LAUNCHER.EXE/EXE": the runtime would be told of LAUNCHER.EXE
embed $probe app.lib -o NAMED.EXE --name||0|embedded
slots NAMED.EXE||0|"NAMED.EXE/EXE"
CASES

[ "$(cat ../ex/A.TXT)" = old ] || fail "-k replaced a file"
[ -f ../ex/NEAR.TXT ] || fail "-k did not extract the rest"
[ "$(cat ../piped/FAR.TXT)" = far ] || fail "extract from a pipe"
if [ "$TXLIB_MODE" = native ] && [ -n "$(ls ../tmp)" ]; then
    fail "a library read from a pipe was left in the temporary folder: $(ls ../tmp)"
fi
# A file newer than its member is kept; an older one is replaced.
touch -d 2001-01-01 ../ex/A.TXT
touch -d 2037-01-01 ../ex/NEAR.TXT
txlib extract app.lib --keep-newer-files -C ../ex A.TXT NEAR.TXT
expect_status 0 "--keep-newer-files"
expect_line "skipped ../ex${sep}NEAR.TXT: it is newer than the member" "--keep-newer-files"
[ "$(cat ../ex/A.TXT)" = a1 ] || fail "--keep-newer-files kept an older file"
no_leftovers "the command lines"

finish
