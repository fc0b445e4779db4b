# Several commands writing one library, or one program, at once: they take
# turns, so each finds the others' work and keeps it, and all succeed.
#
#   TXLIB_RACE_ROUNDS   rounds (default 20)
. "$(dirname "$0")/common.sh"

rounds=${TXLIB_RACE_ROUNDS:-20}

# background NAME ARGS...: txlib ARGS in the background; its status goes to
# NAME.status, its output to NAME.out and NAME.err.
background() {
    name=$1
    shift
    (
        if [ "$TXLIB_MODE" = wine ]; then
            timeout 120 "$TXLIB_WINERUN" --prefix "$TXLIB_WINEPREFIX" "$TXLIB" "$@"
        else
            timeout 120 "$TXLIB" "$@"
        fi >"$name.out" 2>"$name.err"
        echo $? >"$name.status"
    ) &
}

# succeeded NAME WHAT
succeeded() {
    [ "$(cat "$1.status")" = 0 ] || fail "$2: status $(cat "$1.status"): $(cat "$1.err")"
}

# A large first member makes each copy of the library take a while.
head -c 500000 /dev/zero >BIG.BIN
for i in 1 2 3; do
    printf 'member %s\n' "$i" >"M$i.BIN"
done
put_probe base

lost=0
round=1
while [ "$round" -le "$rounds" ]; do
    rm -f lib "$probe"
    txlib create lib
    txlib add lib BIG.BIN
    cp base "$probe"

    background add1 add lib M1.BIN
    background add2 add lib M2.BIN
    background add3 add lib M3.BIN
    background set1 slots "$probe" --set window=W1.FEN
    background set2 slots "$probe" --set project=P2.PRJ
    wait
    for name in add1 add2 add3; do
        succeeded "$name" "round $round: $name"
    done
    succeeded set1 "round $round: slots --set window"
    succeeded set2 "round $round: slots --set project"

    txlib list lib
    for member in BIG.BIN M1.BIN M2.BIN M3.BIN; do
        grep -q "^$member " out || {
            fail "round $round: $member was lost"
            lost=$((lost + 1))
        }
    done
    run "./$probe"
    expect_line "slot 1=W1.FEN" "round $round: the window set at the same time"
    expect_line "slot 5=P2.PRJ" "round $round: the project set at the same time"
    no_leftovers "round $round"
    round=$((round + 1))
done
echo "[$scenario] $rounds rounds: $failures failure(s), $lost member(s) lost"

finish
