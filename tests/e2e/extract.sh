#!/bin/sh
# Self-extraction from the library embedded in the launcher: the first start
# in an empty directory copies out exactly the modules flagged 'O' (list
# position 2 is module index 6; '.' and a lower-case 'o' extract nothing),
# with the members' dates and times, and runs the runtime it has just
# written. A second start rewrites nothing; a module whose time is two
# seconds off, or one that a copy cut short, is replaced.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/extract_lib.sh"

embedded 'O.Oo....' flagged

fresh first-start
put_kit_launcher flagged
echo 'OPTION,VERSION => value 4.10A' | replies
run_quiet
project_trace | expect_trace
same_module TX413EXE.DLL
same_module TX411FIC.DLL
no_file TX413ZQ.DLL
no_file TX413DB.DLL

# Second start: nothing is rewritten.
main_changed=$(change_time "$dir/TX413EXE.DLL")
fic_changed=$(change_time "$dir/TX411FIC.DLL")
sleep 1
rm "$dir/TXTRACE.LOG"
run
expect_status 1
project_trace | expect_trace
[ "$(change_time "$dir/TX413EXE.DLL")" = "$main_changed" ] || fail "TX413EXE.DLL was rewritten"
[ "$(change_time "$dir/TX411FIC.DLL")" = "$fic_changed" ] || fail "TX411FIC.DLL was rewritten"

# Two seconds off: replaced, and the member's date and time come back.
touch -d '1998-05-06 07:08:12' "$dir/TX411FIC.DLL"
run
expect_status 1
same_module TX411FIC.DLL
[ "$(change_time "$dir/TX413EXE.DLL")" = "$main_changed" ] || fail "TX413EXE.DLL was rewritten"

# What an interrupted copy leaves: the first part of the module, with the
# time of the interruption or even with the member's own date and time.
fresh interrupted
put_kit_launcher flagged
echo 'OPTION,VERSION => value 4.10A' | replies
head -c 5000 "$kit/TX413EXE.DLL" >"$dir/TX413EXE.DLL"
head -c 10 "$kit/TX411FIC.DLL" >"$dir/TX411FIC.DLL"
touch -r "$kit/TX411FIC.DLL" "$dir/TX411FIC.DLL"
run_quiet
project_trace | expect_trace
same_module TX413EXE.DLL
same_module TX411FIC.DLL

finish
