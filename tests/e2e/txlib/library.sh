# Library round trips: create, add, list, extract with dates and times kept;
# replacing a member takes the old one's entry; a full directory grows.
. "$(dirname "$0")/common.sh"

txlib create app.lib
expect_status 0 "create"
[ "$(wc -c <app.lib)" -eq 1568 ] || fail "a new library is not 1568 bytes long"
txlib info app.lib
expect_match '^kind: +0 ' "info: kind"
expect_match '^directory: +30 entries, 0 used: 0 members, 0 deleted$' "info: directory"
expect_match '^format version: +2$' "info: version"
txlib create app.lib
expect_status 2 "create over an existing file"
expect_error "already exists" "create over an existing file"

# A member larger than one chunk of copying, and small ones.
printf 'first text\n' >a.txt
head -c 150001 /dev/urandom >big.bin
printf 'x' >c.dat
touch -d '2024-03-05 10:20:30' a.txt
touch -d '1999-12-31 23:59:58' big.bin
touch -d '2030-01-02 03:04:06' c.dat
txlib add app.lib a.txt big.bin
expect_status 0 "add"
expect_line "added A.TXT (11 bytes)" "add"
expect_line "added BIG.BIN (150001 bytes)" "add"
txlib add app.lib c.dat --as data.fic
expect_status 0 "add --as"

txlib list app.lib
expect_status 0 "list"
expect_match '^A\.TXT +11  2024-03-05 10:20:30$' "list"
expect_match '^BIG\.BIN +150001  1999-12-31 23:59:58$' "list"
expect_match '^DATA\.FIC +1  2030-01-02 03:04:06$' "list"

mkdir ex
txlib extract app.lib -d ex
expect_status 0 "extract all"
same_file a.txt ex/A.TXT "extracted A.TXT"
same_file big.bin ex/BIG.BIN "extracted BIG.BIN"
same_file c.dat ex/DATA.FIC "extracted DATA.FIC"
[ "$(mtime ex/A.TXT)" -eq "$(mtime a.txt)" ] || fail "A.TXT lost its date and time"
[ "$(mtime ex/BIG.BIN)" -eq "$(mtime big.bin)" ] || fail "BIG.BIN lost its date and time"
[ "$(mtime ex/DATA.FIC)" -eq "$(mtime c.dat)" ] || fail "DATA.FIC lost its date and time"
(cd ex && no_leftovers "extract")

# Replacing: the new member takes the old one's entry, and no deleted entry
# is left.
printf 'second, longer text\n' >a.txt
touch -d '2025-06-07 08:09:10' a.txt
txlib add app.lib a.txt
expect_status 0 "replace"
expect_line "replaced A.TXT (20 bytes)" "replace"
txlib list app.lib
expect_match '^A\.TXT +20  2025-06-07 08:09:10$' "the replacing member"
[ "$(grep -c '^A\.TXT' out)" -eq 1 ] || fail "list shows the replaced member"
txlib -v list app.lib --all
expect_match '^A\.TXT +20  2025-06-07 08:09:10      0 .*  member ' "the replacing entry"
if grep -q deleted out; then fail "replacing left a deleted entry"; fi
txlib list app.lib --json --all
tr -d ' \n' <out >json
grep -qF '"name":"A.TXT","stored":"A.TXT","state":"member","size":20,' json || fail "json"
# An entry deleted as the launcher deletes one: the stored name keeps the
# deleted-entry mark 0xE5, in UTF-8.
cp app.lib deleted.lib
patch deleted.lib 128 '\345'
patch deleted.lib $((128 + 17)) '\000\000'
txlib list deleted.lib --all
expect_match '^\?\.TXT +20  2025-06-07 08:09:10  deleted$' "the deleted entry"
txlib list deleted.lib --json --all
tr -d ' \n' <out >json
grep -qF '"name":"?.TXT","stored":"'"$(printf '\303\245')"'.TXT","state":"deleted","size":20,' json ||
    fail "json of the deleted entry"
rm -f ex/A.TXT
txlib extract app.lib a.txt -d ex
expect_status 0 "extract by name"
same_file a.txt ex/A.TXT "the replacing member extracted"
[ "$(mtime ex/A.TXT)" -eq "$(mtime a.txt)" ] || fail "the replacing member lost its date"

# 30 more members fill the directory of 30 entries: it grows to 60, moving
# the data behind it, and every member still reads back.
mkdir many
i=0
while [ $i -lt 30 ]; do
    printf 'member %d\n' $i >many/M$i.TXT
    i=$((i + 1))
done
txlib add app.lib -C many $(cd many && echo *)
expect_status 0 "adding 30 members"
txlib info app.lib
expect_match '^directory: +60 entries, 33 used: 33 members, 0 deleted$' "the grown directory"
# The output directory is made when missing, with its parents.
txlib extract app.lib -d again/deeper
expect_status 0 "extract after growth"
same_file big.bin again/deeper/BIG.BIN "BIG.BIN after growth"
same_file many/M29.TXT again/deeper/M29.TXT "M29.TXT after growth"

txlib create odd.lib --kind 16
txlib info odd.lib
expect_match '^kind: +16$' "create --kind"

finish
