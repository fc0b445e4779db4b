#!/bin/sh
# Where the modules go: WIN.INI's LOCAL in section EXETORVIX. Missing or "n":
# the launcher's own directory; "Y": the Windows directory, from which the
# runtime is then loaded.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/extract_lib.sh"

embedded 'O.O.....' flagged

# windows_at SUBDIR: natively the Windows directory is $dir/SUBDIR; under
# Wine it is the prefix's.
windows_at() {
    if [ "$TXE2E_MODE" != wine ]; then
        windir=$dir/$1
        mkdir -p "$windir"
        export TX_WINDIR="$windir"
    fi
}

fresh lower-case-n
put_kit_launcher flagged
windows_at windows
set_local n
echo 'OPTION,VERSION => value 4.10A' | replies
run
expect_status 1
project_trace | expect_trace
same_module TX413EXE.DLL
same_module TX411FIC.DLL
no_file TX413EXE.DLL "$windir"

fresh windows-directory
put_kit_launcher flagged
windows_at windows
set_local Y
# The runtime keeps its reply script and trace beside itself.
rm -f "$windir/TXTRACE.LOG"
echo 'OPTION,VERSION => value 4.10A' >"$windir/TXREPLY.TXT"
run_quiet
mv "$windir/TXTRACE.LOG" "$dir/TXTRACE.LOG" 2>/dev/null
project_trace | expect_trace
same_module TX413EXE.DLL "$windir"
same_module TX411FIC.DLL "$windir"
no_file TX413EXE.DLL
no_file TX411FIC.DLL
rm -f "$windir/TXREPLY.TXT"
set_local

finish
