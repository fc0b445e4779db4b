# Configuration slots: values written with txlib slots --set are the values
# the launcher reads back (the stand-in launcher reports them through the
# same LoadStringA calls); long values spill into the continuation slot;
# values that do not fit are refused and nothing is written.
. "$(dirname "$0")/common.sh"

# repeat CHAR N
repeat() {
    printf "%${2}s" "" | tr ' ' "$1"
}

put_probe "$probe"
txlib slots "$probe"
expect_status 0 "slots"
expect_match '^3\+4 +library +library specification +"LAUNCHER\.EXE/EXE"$' "slots"
expect_match '^11 +flags +extraction flags +">G\.+"$' "slots"

# A pair value that fills the first entry exactly, one that spills 74
# characters into the second, and single slots.
w126=$(repeat W 126)
p200=$(repeat A 126)$(repeat B 74)
txlib slots "$probe" --set 1="$w126" --set project="$p200" --set library=APP.EXE/EXE \
    --set 9=2.00B --set modules=A.DLL,B.DLL --set flags=OOxO
expect_status 0 "slots --set"
[ "$TXLIB_MODE" = wine ] || [ -x "$probe" ] || fail "slots --set lost the program's execute permission"
no_leftovers "slots --set"

run "./$probe"
expect_status 0 "stand-in launcher after --set"
expect_line "slot 1=$w126" "a value filling the first entry"
expect_line "slot 5=$p200" "a value spilling into the continuation"
expect_line "slot 3=APP.EXE/EXE" "a short pair value"
expect_line "slot 7=LAUNCHER.EXE" "a slot not set"
expect_line "slot 9=2.00B" "slot 9"
expect_line "slot 10=A.DLL,B.DLL" "slot 10"
expect_line "slot 11=OOxO" "slot 11"

txlib slots "$probe" -v
expect_match "^5\+6 +project +project file +\"$p200\"$" "slots shows the spilled value whole"
expect_match '^      entry 6  +126 characters: "B{74}\\0\[51 dots\]"$' "the continuation entry"

# Setting a short value again frees the continuation: it holds a space.
txlib slots "$probe" --set 5=X.PRJ
run "./$probe"
expect_line "slot 5=X.PRJ" "a short value after a long one"
txlib slots "$probe" -v
expect_match '^      entry 6  +126 characters: " \\0\[124 dots\]"$' "an unused continuation"

# A character outside ASCII arrives in the launcher's code page.
txlib slots "$probe" --set host="CAFÉ.EXE"
expect_status 0 "an accented value"
run "./$probe"
expect_line "$(printf 'slot 7=CAF\311.EXE')" "an accented value read back"

# Refused: too long for the pair, too long for the flags' read limit, a
# trailing space the launcher would trim, a continuation slot on its own.
cp "$probe" before
txlib slots "$probe" --set 5="$(repeat C 253)"
expect_status 2 "a pair value of 253 characters"
expect_error "nothing written" "a pair value of 253 characters"
txlib slots "$probe" --set 11="$(repeat O 100)"
expect_status 2 "flags of 100 characters"
txlib slots "$probe" --set 9="$(repeat 9 101)"
expect_status 2 "a version of 101 characters"
txlib slots "$probe" --set 3=OK.LIB --set 1="TRAILING "
expect_status 2 "a trailing space (with a good value before it)"
txlib slots "$probe" --set 6=X
expect_status 1 "a continuation slot"
txlib slots "$probe" --set 12=X
expect_status 1 "no such slot"
same_file before "$probe" "refused values"
no_leftovers "refused values"

# The real launcher, when it is built.
if [ -n "${TXLIB_LAUNCHER:-}" ]; then
    cp "$TXLIB_LAUNCHER" launcher.bin
    txlib slots launcher.bin --set project=DEMO.PRJ --set flags=O
    expect_status 0 "slots --set on the launcher"
    txlib slots launcher.bin
    expect_match '^5\+6 +project +project file +"DEMO\.PRJ"$' "the launcher's project file"
    expect_match '^11 +flags +extraction flags +"O"$' "the launcher's flags"
fi

finish
