#!/bin/sh
# The format page's worked example against txlib: the commands of its EXAMPLE
# section are run with the txlib of this build, and the library they make,
# dumped with od, must be the page's dump. Bytes 100 to 103, the moment of
# creation, are set to the page's value first. Then the page's table of
# scrambling keys: for each row the example library is scrambled by hand with
# that key (its seed and method set, its data XORed), and txlib must read the
# members back as they were.
#
#   container_page.sh PAGE.scd TXLIB
. "$(dirname "$0")/common.sh"
page=$1
txlib=$2

# The literal blocks of the page, numbered from 1: block N into block.N.
awk '/^```$/ { inside = !inside; if (inside) n++; next }
     inside { print > ("block." n) }' "$page"
# The example's commands and dump are the first two blocks after its header;
# the key table is the block whose first line begins "seed".
example=$(awk '/^```$/ { if (!inside) n++; inside = !inside }
               /^# EXAMPLE$/ { print n + 1; exit }' "$page")
keys=$(grep -l '^seed ' block.* | head -n 1)
[ -n "$example" ] && [ -f "block.$example" ] || { fail "the page has no example"; finish; }
[ -n "$keys" ] || { fail "the page has no table of keys"; finish; }

mkdir example
sed -n 's/^\$ //p' "block.$example" >example/commands
[ -s example/commands ] || fail "the example has no commands"
(cd example && PATH=$(dirname "$txlib"):$PATH sh -e commands) >example.out 2>&1 ||
    fail "the example's commands failed: $(cat example.out)"
library=example/DEMO.LIB

# Creation time 10:29:00 (0x53A0) and date 2024-03-15 (0x586F).
printf '\240\123\157\130' | dd of=$library bs=1 seek=100 conv=notrunc 2>/dev/null
od -A x -t x1z $library >dump
same_lines "the example's dump" "block.$((example + 1))" dump

# byte N: the byte of value N.
byte() {
    # shellcheck disable=SC2059
    printf "\\$(printf %o "$1")"
}

data_start=$((128 + $(u16 $library 110) * 48))
size=$(stat -c %s $library)
grep -E '^0x[0-9A-Fa-f]{4} +[0-9]+ +0x[0-9A-Fa-f]{2}$' "$keys" >rows
[ "$(wc -l <rows)" -ge 3 ] || fail "the key table has fewer than 3 rows"
while read -r seed method key; do
    scrambled=S$seed-$method.LIB
    cp $library "$scrambled"
    { byte $((seed & 0xFF)); byte $((seed >> 8)); } |
        dd of="$scrambled" bs=1 seek=106 conv=notrunc 2>/dev/null
    byte "$method" | dd of="$scrambled" bs=1 seek=118 conv=notrunc 2>/dev/null
    od -An -v -t u1 -j $data_start $library | tr -s ' ' '\n' | sed '/^$/d' |
        while read -r b; do byte $((b ^ key)); done >data
    [ "$(stat -c %s data)" -eq $((size - data_start)) ] || fail "$scrambled: the data was not XORed whole"
    dd if=data of="$scrambled" bs=1 seek=$data_start conv=notrunc 2>/dev/null
    rm -rf out
    if "$txlib" -q extract "$scrambled" -d out >extract.out 2>&1; then
        for member in HELLO.TXT NOTES.TXT; do
            cmp -s "out/$member" "example/$member" ||
                fail "seed $seed, method $method: key $key does not unscramble $member"
        done
    else
        fail "seed $seed, method $method: txlib extract failed: $(cat extract.out)"
    fi
done <rows

finish
