#!/bin/sh
# A first start killed by strace at a system call of its extraction may leave
# a folder "~TX<pid>-<n>"; the next start removes it and leaves every module
# whole, with the member's date and time.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/extract_lib.sh"

embedded 'OO......' flagged
left=0
# The first writes are the POSIX layer's pointer probes, 16 bytes each.
for point in mkdir:when=1 fcntl:when=1 write:when=10 rename:when=1 rename:when=2; do
    fresh "killed-at-$(printf %s "$point" | tr := --)"
    put_kit_launcher flagged
    echo 'OPTION,VERSION => value 4.10A' | replies
    (cd "$dir" && timeout 120 strace -f -o /dev/null -e trace="${point%%:*}" \
        -e inject="$point:signal=KILL" "./$exe") >"$dir/stdout" 2>"$dir/stderr"
    ls -d "$dir"/~TX* >/dev/null 2>&1 && left=$((left + 1))
    run_quiet
    project_trace | expect_trace
    for module in TX413EXE.DLL TX413ZQ.DLL; do same_module $module; done
    ! ls -d "$dir"/~TX* 2>/dev/null || fail "a private folder is left"
done
[ "$left" -ge 3 ] || { run_name=kill-points; fail "only $left kill points left a folder to clear"; }
finish
