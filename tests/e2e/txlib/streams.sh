# Standard streams: a command started with descriptor 0, 1 or 2 closed
# neither writes into a library nor reads one as its input; output that does
# not reach its destination fails the command; -O never writes into the
# library read.
. "$(dirname "$0")/common.sh"

for x in A B; do head -c 16 /dev/zero | tr '\0' $x >$x.TXT; done
txlib create S.LIB A.TXT B.TXT
# A listing longer than 4 KiB, and two names that are one if case is ignored.
mkdir many
for i in $(seq 100); do : >many/F$i.TXT; done
txlib create BIG.LIB many
for x in ABX ABC; do printf 'abc' >$x.TXT; done
txlib create CASE.LIB ABX.TXT ABC.TXT
patch CASE.LIB 128 'abc.txt'
for f in S.LIB BIG.LIB CASE.LIB; do cp $f $f.before; done

while read -r fd library args; do
    rm -rf out.d
    # shellcheck disable=SC2086
    case $fd in
    0) bare $args <&- >out 2>err ;;
    1) bare $args >&- 2>err ;;
    2) bare $args >out 2>&- ;;
    esac
    status=$?
    expect_status 0 "$args with descriptor $fd closed"
    same_file "$library.before" "$library" "$args with descriptor $fd closed"
done <<'CASES'
1 S.LIB extract S.LIB -d out.d
1 S.LIB extract S.LIB -O A.TXT
1 BIG.LIB list BIG.LIB
2 CASE.LIB list CASE.LIB
0 S.LIB extract S.LIB -d out.d
CASES
same_file B.TXT out.d/B.TXT "extracted with standard input closed"

# Output lost to a full device: status 2 and one plain line.
put_probe prog
while read -r args; do
    # shellcheck disable=SC2086
    bare $args >/dev/full 2>err.raw
    status=$?
    tr -d '\r' <err.raw >err
    expect_status 2 "$args to a full device"
    expect_error "cannot write to standard output" "$args to a full device"
done <<CASES
list BIG.LIB
list --json BIG.LIB
info S.LIB
slots prog
--version
CASES

# -O with standard output opened on the library itself.
bare extract S.LIB -O A.TXT 1<>S.LIB 2>err.raw
status=$?
tr -d '\r' <err.raw >err
expect_status 2 "-O into the library read"
expect_error "standard output is the library read" "-O into the library read"
same_file S.LIB.before S.LIB "the library after -O into itself"

# Standard input closed is an empty input, not the library.
bare add S.LIB - --as IN.TXT <&- >out 2>err
status=$?
expect_status 0 "add - with standard input closed"
txlib extract S.LIB -O IN.TXT
[ -s out ] && fail "the member read from a closed standard input is not empty"

finish
