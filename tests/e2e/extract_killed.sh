#!/bin/sh
# A first start killed while it brings its modules out (strace kills it at
# a chosen system call: making its private folder, locking the folder's
# mark, writing a module, moving a copy into place) leaves a private folder
# "~TX<pid>-<n>" behind. The next start removes it, and leaves every module
# whole, with the member's date and time. Natively only: strace follows the
# launcher itself.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/extract_lib.sh"

command -v strace >/dev/null || { echo "$scenario: strace is missing (scripts/setup)"; exit 1; }
embedded 'OO......' flagged

left=0
# (The first writes are the layer's pointer probes, 16 bytes each, not the copy.)
for point in mkdir:when=1 fcntl:when=1 write:when=10 rename:when=1 rename:when=2; do
    fresh "killed-at-${point%%:*}-${point##*=}"
    put_kit_launcher flagged
    echo 'OPTION,VERSION => value 4.10A' | replies
    (cd "$dir" && TXTRACE_ENV=e2e timeout 120 strace -f -o /dev/null \
        -e trace="${point%%:*}" -e inject="$point:signal=KILL" "./$exe") >"$dir/stdout" 2>"$dir/stderr"
    ls -d "$dir"/~TX* >/dev/null 2>&1 && left=$((left + 1))
    run_quiet
    project_trace | expect_trace
    same_module TX413EXE.DLL
    same_module TX413ZQ.DLL
    extra=$(ls -A "$dir" | grep -Ev "^($exe|TXREPLY\.TXT|TXTRACE\.LOG|TX413EXE\.DLL|TX413ZQ\.DLL|stdout|stderr|boxes|trace|expected\..*|wanted\.boxes|boxes\.matched)$")
    [ -z "$extra" ] || fail "left behind: $extra"
done
# The kill points are worth their time only if some of them leave a folder.
[ "$left" -ge 3 ] || { run_name=kill-points; fail "only $left kill points left a private folder"; }

finish
