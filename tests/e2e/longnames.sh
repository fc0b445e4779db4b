#!/bin/sh
# A library built by the library tool from a folder tree, its long names kept
# in the long-name table, handed by the launcher to the runtime: the reader
# runtime opens it as an application library and reads members by their
# long names, any case, through the core's own lookup.
. "$(dirname "$0")/lib.sh"

variant applib library=APP.LIB

fresh tree
put_launcher applib
put_runtime reader
mkdir -p "$dir/src/Docs/Sub"
printf 'the long-named member\n' >"$dir/src/Docs/readme-long-name.txt"
printf 'two folders down\n' >"$dir/src/Docs/Sub/MixedCase.Txt"
printf 'at the top\n' >"$dir/src/top-level-long-name.txt"
txlib_in "$dir" create APP.LIB -C src Docs top-level-long-name.txt
cat >"$dir/TXREPLY.TXT" <<'SCRIPT'
OPTION,VERSION => value 4.10A
read-member DOCS\\README-LONG-NAME.TXT
read-member docs\\sub\\mixedcase.txt
read-member Top-Level-Long-Name.txt
read-member DOCS\\NO-SUCH-NAME.TXT
SCRIPT
run_quiet
{
    opening_trace
    printf "%s\n" "TXCALLC BIBLI,DISQUE,$(esc "$(winpath "$dir")\\APP.LIB")"
    printf '%s\n' '  member DOCS\\README-LONG-NAME.TXT: 22 bytes: the long-named member\n'
    printf '%s\n' '  member docs\\sub\\mixedcase.txt: 17 bytes: two folders down\n'
    printf '%s\n' '  member Top-Level-Long-Name.txt: 11 bytes: at the top\n'
    printf '%s\n' '  member DOCS\\NO-SUCH-NAME.TXT: not found'
    echo "TXCALLC PROGRAMME,APPLI.PRJ"
    echo "FinInstance"
} | expect_trace

finish
