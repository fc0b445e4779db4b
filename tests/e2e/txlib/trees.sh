# Whole trees: folders walked in a stable order, members named by their paths,
# long names through the long-name table, lookups and patterns as the
# launcher's, extraction into folders, and the manners of -k, -O and "-".
. "$(dirname "$0")/common.sh"

# The tool names the folders it walks with its system's separator; on Windows
# it refuses links instead of following them.
if [ "$TXLIB_MODE" = wine ]; then
    sep='\'
    outside="is a link, which txlib does not follow on Windows"
    loop=$outside
else
    sep=/
    outside="leads outside"
    loop="leads back into a folder"
fi

# A tree with subfolders, long and mixed-case names, two files of one name in
# different folders, and an empty folder. Times are even: FAT keeps seconds
# in steps of two.
mkdir -p app/Docs/Sub app/bin app/empty
printf 'read me first\n' >app/readme-long-name.txt
printf 'mixed\n' >app/Docs/MixedCase.Txt
printf 'same name, docs\n' >app/Docs/SAME.TXT
printf 'same name, bin\n' >app/bin/SAME.TXT
head -c 70000 /dev/urandom >app/bin/program-with-a-long-name.bin
printf 'deep\n' >app/Docs/Sub/a.txt
i=0
for f in $(find app -type f | sort); do
    touch -d "2021-03-0$((i % 9 + 1)) 1$((i % 10)):2$((i % 10)):1$((i % 5 * 2))" "$f"
    i=$((i + 1))
done

txlib create app.lib app
expect_status 0 "create from a tree"
expect_line "added APP\\BIN\\SAME.TXT (15 bytes)" "create from a tree"
expect_line "added APP\\DOCS\\SAME.TXT (16 bytes)" "create from a tree"
expect_line "skipped empty folder app${sep}empty" "the empty folder is named"
txlib -v list app.lib
expect_match '^APP\\README-LONG-NAME\.TXT +14  2021-03-0.*  README~1\.TXT$' "list -v shows both names"

# Round trip: the same files, names equal but for case, contents and dates
# equal.
txlib extract app.lib -d ex
expect_status 0 "extract the tree"
(cd app && find . -type f | sort) >src.files
(cd ex/APP && find . -type f | sort) >out.files
tr 'a-z' 'A-Z' <src.files | sort >src.upper
cmp -s src.upper out.files || fail "the extracted tree has other files: $(diff src.upper out.files)"
while read -r f; do
    g=$(printf '%s' "$f" | tr 'a-z' 'A-Z')
    same_file "app/$f" "ex/APP/$g" "round trip of $f"
    [ "$(mtime "app/$f")" -eq "$(mtime "ex/APP/$g")" ] || fail "$f lost its date and time"
done <src.files
[ ! -e ex/TXBIBLI.LFN ] || fail "the long-name table was extracted as a file"

# -C: names relative to the folder; the same short names on a second add of
# the same files, and new ones unique, ignoring case.
txlib create rel.lib -C app Docs
txlib add rel.lib -C app Docs readme-long-name.txt
expect_status 0 "add again"
expect_line "replaced DOCS\\MIXEDCASE.TXT (6 bytes)" "add again replaces"
expect_line "added README-LONG-NAME.TXT (14 bytes)" "add again adds"
txlib -v list rel.lib
expect_match ' MIXEDC~1\.TXT$' "a short name kept across a replace"
expect_match ' README~1\.TXT$' "a new short name"
[ "$(awk '{print $NF}' out | sort | uniq -d | wc -l)" -eq 0 ] || fail "short names repeat"

# Lookups ignore case and go through the long-name table; '/' stands for
# '\'; patterns select, and one that selects nothing is an error naming it.
txlib extract app.lib -O app/docs/mixedcase.txt
expect_status 0 "-O by long name, any case"
same_file app/Docs/MixedCase.Txt out.raw "-O writes the member's bytes"
txlib list app.lib 'app\docs\**'
expect_status 0 "a pattern"
[ "$(grep -c '^APP\\DOCS\\' out)" -eq 3 ] || fail "app\\docs\\** selects the three files under Docs"
txlib extract app.lib -d none 'NOTHING*'
expect_status 2 "a pattern that selects nothing"
expect_error "no member matches NOTHING*" "a pattern that selects nothing"
[ ! -e none ] || fail "a refused extraction made its folder"

# -k keeps an existing file and extracts the rest.
txlib create again.lib -C app bin readme-long-name.txt
rm -rf keep && mkdir keep
printf 'old\n' >keep/README-LONG-NAME.TXT
txlib extract again.lib -k -d keep 'BIN\*' readme-long-name.txt
expect_status 0 "-k over an existing file"
expect_line "skipped keep${sep}README-LONG-NAME.TXT: it exists" "-k"
[ "$(cat keep/README-LONG-NAME.TXT)" = old ] || fail "-k replaced a file"
[ -f keep/BIN/SAME.TXT ] || fail "-k did not extract the rest"
txlib extract again.lib -d keep
expect_status 0 "extract without -k replaces"
same_file app/readme-long-name.txt keep/README-LONG-NAME.TXT "the replaced file"

# Standard input as a member.
printf 'from a pipe' | txlib add again.lib - --as piped.txt
expect_status 0 "add - --as NAME"
txlib extract again.lib -O PIPED.TXT
[ "$(cat out)" = 'from a pipe' ] || fail "the member read from standard input"

# Refused inputs: nothing written.
cp app.lib app.before
ln -s /etc outside
ln -s ../app app/loop
while IFS='|' read -r args says; do
    # shellcheck disable=SC2086
    txlib add app.lib $args
    expect_status 2 "add $args"
    expect_error "$says" "add $args"
done <<CASES
/app/readme-long-name.txt|no such file or folder
outside|$outside
app|$loop
app/bin/SAME.TXT ./app/bin/SAME.TXT|would both be stored as APP\\BIN\\SAME.TXT
CASES
rm app/loop
same_file app.before app.lib "refused inputs"
no_leftovers "refused inputs"

finish
