#!/bin/sh
# Several first starts at once in one directory: every start runs the
# runtime (status 1, no crash, no message), and afterwards each module file
# is the member, whole, with its date and time. A start must never load a
# module that another start is still writing.
#
#   TXE2E_RACE_ROUNDS   rounds (default 20), each of TXE2E_RACE_STARTS
#                       (default 3) starts
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/extract_lib.sh"

rounds=${TXE2E_RACE_ROUNDS:-20}
starts=${TXE2E_RACE_STARTS:-3}
# A large main runtime module keeps each copy going long enough for the
# starts to meet: the trace runtime with 4 MiB of data after its image,
# which the loader ignores.
head -c $((4 * 1024 * 1024)) /dev/zero >>"$kit/TX413EXE.DLL"
touch -d '1996-10-07 13:42:08' "$kit/TX413EXE.DLL"
txlib add APP.LIB TX413EXE.DLL
embedded 'OO......' racing
whole=$(stat -c '%s %Y' "$kit/TX413EXE.DLL")

# running: whether a start of this round is still running.
running() {
    for pid in $pids; do
        kill -0 "$pid" 2>/dev/null && return 0
    done
    return 1
}

# start N: one start of $dir/$exe, its status in $dir/status.N. Natively its
# stderr is kept: a sanitizer's report or a crash shows there. Later starts
# begin a little later, by a step that changes from round to round, so that
# they find the module absent, being written, or in place.
start() {
    sleep "$(printf '0.%03d' $(((round % 5) * 20 * ($1 - 1))))"
    if [ "$TXE2E_MODE" = wine ]; then
        TXTRACE_ENV=e2e WINEDEBUG=-all,trace+relay timeout 120 "$TXE2E_WINERUN" --prefix "$TXE2E_WINEPREFIX" "$dir/$exe"
    else
        TXTRACE_ENV=e2e timeout 120 "$dir/$exe"
    fi >"$dir/stdout.$1" 2>"$dir/stderr.$1"
    echo $? >"$dir/status.$1"
}

round=1
failed_rounds=0
while [ "$round" -le "$rounds" ]; do
    fresh "round-$round"
    put_kit_launcher racing
    echo 'OPTION,VERSION => value 4.10A' | replies
    before=$(wc -l <"$failure_log")
    pids=
    n=1
    while [ "$n" -le "$starts" ]; do
        (cd "$dir" && start "$n") &
        pids="$pids $!"
        n=$((n + 1))
    done
    # Meanwhile the main module, under its own name, is absent or whole:
    # the member's size and date. A copy in progress shows another.
    while running; do
        seen=$(stat -c '%s %Y' "$dir/TX413EXE.DLL" 2>/dev/null) || continue
        [ "$seen" = "$whole" ] || { fail "TX413EXE.DLL seen as $seen, not $whole"; break; }
    done
    wait
    n=1
    while [ "$n" -le "$starts" ]; do
        s=$(cat "$dir/status.$n")
        [ "$s" = 1 ] || fail "start $n of $starts ended with status $s"
        if grep -q 'Sanitizer\|runtime error:\|\[MessageBox\|Call user32\.MessageBoxA(' "$dir/stderr.$n"; then
            fail "start $n: $(grep -m1 'Sanitizer\|runtime error:\|\[MessageBox\|Call user32\.MessageBoxA(' "$dir/stderr.$n")"
        fi
        n=$((n + 1))
    done
    # The starts append to one trace; natively each line goes out whole.
    if [ "$TXE2E_MODE" = native ] &&
        [ "$(grep -c '^FinInstance$' "$dir/TXTRACE.LOG")" != "$starts" ]; then
        fail "not every start ran the runtime to its end"
    fi
    same_module TX413EXE.DLL
    same_module TX413ZQ.DLL
    # Nothing but the launcher, its files and the modules is left behind.
    extra=$(ls -A "$dir" | grep -Ev "^($exe|TXREPLY\.TXT|TXTRACE\.LOG|TX413EXE\.DLL|TX413ZQ\.DLL|(stdout|stderr|status)\.[0-9]+)$")
    [ -z "$extra" ] || fail "left behind: $extra"
    [ "$(wc -l <"$failure_log")" = "$before" ] || failed_rounds=$((failed_rounds + 1))
    round=$((round + 1))
done
echo "$scenario: $failed_rounds of $rounds rounds of $starts starts failed"

finish
