# Damaged and hostile input: a clear message, status 2, and nothing written
# or changed.
. "$(dirname "$0")/common.sh"

printf 'abc' >a.txt
txlib create lib
txlib add lib a.txt
cp lib good.lib

# Truncated libraries and files that are no library.
head -c 1000 good.lib >cut.lib
txlib list cut.lib
expect_status 2 "a library cut inside its directory"
expect_error "its directory runs past the end" "a library cut inside its directory"
head -c 100 good.lib >tiny.lib
txlib list tiny.lib
expect_status 2 "a library shorter than its header"
expect_error "shorter than a container header" "a library shorter than its header"
printf 'just some text that is long enough to be a header but is not one at all.....................................................\n' >text.lib
txlib info text.lib
expect_status 2 "a text file"
expect_error "not a library container" "a text file"
cp cut.lib cut.before
txlib add cut.lib a.txt
expect_status 2 "adding to a truncated library"
same_file cut.before cut.lib "a truncated library added to"
no_leftovers "adding to a truncated library"

# A member whose data lies outside the file.
cp good.lib outside.lib
patch outside.lib 147 '\377\377\377\177'
txlib list outside.lib
expect_status 2 "a member outside the file"
expect_match 'data outside the container' "a member outside the file is flagged"
mkdir out1
txlib extract outside.lib -d out1
expect_status 2 "extracting a member outside the file"
[ -z "$(ls -A out1)" ] || fail "extracting a member outside the file wrote something"

# Member names that would lead out of the output directory.
for name in '..\134X' '../X' 'C:X' 'CON.TXT' '..'; do
    cp good.lib evil.lib
    patch evil.lib 128 "$name\\0"
    rm -rf sub
    mkdir -p sub/out
    txlib extract evil.lib -d sub/out
    expect_status 2 "a member named $name"
    expect_error "nothing extracted" "a member named $name"
    [ -z "$(ls -A sub/out)" ] && [ "$(ls -A sub)" = out ] || fail "a member named $name was written"
done

# Members named after the library read, or after the program that holds it:
# never extracted over it, under whatever name the library is read.
mkdir victim
printf 'evil' >victim/SELF.LIB
printf 'evil' >victim/HOLDER.EXE
txlib create SELF.LIB -C victim SELF.LIB
txlib create inner.lib -C victim HOLDER.EXE
put_probe base
txlib embed base inner.lib -o HOLDER.EXE
ln SELF.LIB alias.lib
while IFS='|' read -r read_as kept; do
    cp "$kept" kept.before
    txlib extract "$read_as"
    expect_status 2 "extracting $read_as over $kept"
    expect_error "never replaces" "extracting $read_as over $kept"
    same_file kept.before "$kept" "extracting $read_as over $kept"
done <<CASES
SELF.LIB|SELF.LIB
alias.lib|SELF.LIB
HOLDER.EXE|HOLDER.EXE
CASES
no_leftovers "members named after the library"

# Live entries whose names differ only in case: list names them; a named
# extraction writes the whole of the one entry the lookup opens; extracting
# all of them, or two such, is refused. The first library has abc.txt (28
# bytes) and ABC.TXT (3 bytes), the second CAF\351.TXT and CAF\311.TXT.
printf 'twenty-eight bytes of abc...' >ABX.TXT
printf 'ABC' >ABC.TXT
txlib create case.lib ABX.TXT ABC.TXT
cp case.lib latin.lib
patch case.lib 128 'abc.txt'
patch latin.lib 128 'CAF\351.TXT\0'
patch latin.lib 176 'CAF\311.TXT\0'
for library in case.lib latin.lib; do
    txlib list "$library"
    expect_status 0 "list of $library"
    grep -qF 'have the same name if case is ignored' err || fail "list of $library names no collision"
    txlib extract "$library" -d all
    expect_status 2 "extracting all of $library"
    expect_error "have the same name if case is ignored" "extracting all of $library"
    [ ! -e all ] || fail "extracting all of $library wrote something"
done
txlib extract latin.lib 'CAF?.TXT' -d two
expect_status 2 "extracting two members of one name"
[ ! -e two ] || fail "extracting two members of one name wrote something"
txlib extract case.lib ABC.TXT -d one
expect_status 0 "extracting ABC.TXT"
same_file ABX.TXT one/abc.txt "the entry that ABC.TXT opens"

# Control characters in member names reach the terminal escaped: ESC [2J
# and the byte that Windows-1252 leaves undefined at 0x9D (U+009D, which a
# terminal takes for the start of a command).
cp good.lib ctl.lib
patch ctl.lib 128 '\033[2J\235.TXT\0'
txlib list ctl.lib
expect_status 0 "list of a name with control characters"
grep -qF '\033[2J' out || fail "list does not show ESC as \\033"
for stream in out err; do
    if grep -q "$(printf '\033')\|$(printf '\235')" $stream; then fail "a control character reached $stream"; fi
done
txlib extract ctl.lib -d ctl
expect_status 2 "extracting a name with control characters"
if grep -q "$(printf '\033')\|$(printf '\235')" err; then fail "a control character reached the message"; fi

# On Linux a path with a backslash would be read by the library layer as
# dir/x.lib or a/b: refused with one line, nothing read or made.
if [ "$TXLIB_MODE" = native ]; then
    mkdir dir
    cp good.lib dir/x.lib
    cp good.lib x.lib
    printf 'x' >'in\put.txt'
    while read -r args; do
        eval "txlib $args"
        expect_status 2 "$args"
        expect_error "a path with a backslash cannot be used" "$args"
    done <<'CASES'
list 'dir\x.lib'
info 'dir\x.lib'
extract x.lib -d 'a\b'
create 'n\x.lib'
add x.lib 'in\put.txt'
add x.lib -C 'a\b' a.txt
slots 'p\x.exe'
embed base x.lib -o 'o\x.exe'
unembed 'p\x.exe' -o y.lib
CASES
    same_file good.lib x.lib "paths with backslashes"
    [ ! -e 'a\b' ] && [ ! -e a ] && [ ! -e 'n\x.lib' ] && [ ! -e n ] && [ ! -e y.lib ] ||
        fail "a path with a backslash made something"
    no_leftovers "paths with backslashes"
fi

# Member names that cannot be stored, long or short: refused with one line,
# the library unchanged.
long=$(printf '%0260d' 0)
while IFS='|' read -r name says; do
    txlib add lib a.txt --as "$name"
    expect_status 2 "the member name '$name'"
    expect_error "$says" "the member name '$name'"
done <<CASES
A:B|a member name cannot hold
X*.TXT|a member name cannot hold
..\\X.TXT|".." part
A\\\\B|".." part
 LEAD.TXT|begins or ends with a space
TXBIBLI.LFN|is the long-name table's
$long|longer than the 259 characters
CASES
same_file good.lib lib "refused names"
no_leftovers "refused names"

# Truncated and damaged programs.
put_probe "$probe"
head -c 300 "$probe" >cut.exe
txlib slots cut.exe
expect_status 2 "slots of a truncated program"
txlib embed cut.exe good.lib -o cut2.exe
expect_status 2 "embedding into a truncated program"
[ ! -e cut2.exe ] || fail "a refused embed wrote its output"
head -c 2 "$probe" >mz.exe
txlib info mz.exe
expect_status 2 "a program of two bytes"

# A program whose .rsrc name is gone has nowhere to record a library.
cp "$probe" norsrc.exe
at=$(offset_of norsrc.exe .rsrc)
patch norsrc.exe $((at + 4)) 'x'
txlib embed norsrc.exe good.lib -o norsrc2.exe
expect_status 2 "a program without a .rsrc header"
[ ! -e norsrc2.exe ] || fail "a refused embed wrote its output"
txlib unembed "$probe" -o none.lib
expect_status 2 "unembed from a program without a library"
expect_error "has no embedded library" "unembed from a program without a library"
[ ! -e none.lib ] || fail "a refused unembed wrote its output"

# A recorded offset that points outside the file.
txlib embed "$probe" good.lib -o app.exe
at=$(offset_of app.exe .rsrc)
patch app.exe $((at + 28)) '\377\377\377\000'
txlib list app.exe
expect_status 2 "a recorded offset beyond the file"
txlib unembed app.exe -o back.lib
expect_status 2 "unembed with an offset beyond the file"
[ ! -e back.lib ] || fail "a refused unembed wrote its output"
no_leftovers "damaged programs"

finish
