#!/bin/sh
# The library specification: none, a bare file name resolved against the
# launcher's own directory, and a path of which only the file name survives,
# resolved against the directory of another host module (here the runtime,
# loaded from the current directory).
. "$(dirname "$0")/lib.sh"

# No library; a bare library file name, resolved against the launcher's own
# directory; a library path whose file name is resolved against the directory
# of the host module, here the runtime module.
variant nolibrary library=
variant libname library=LIBRARY.DAT
variant libhost 'library=D:\OLD\LIBRARY.DAT' host=TX413EXE.DLL

# body LIBRARY-COMMAND...: the trace of a project run.
body() {
    opening_trace
    for line in "$@"; do printf '%s\n' "$line"; done
    echo "TXCALLC PROGRAMME,APPLI.PRJ"
    echo "FinInstance"
}

prepare none nolibrary
echo 'OPTION,VERSION => value 4.10A' | replies
run_quiet
body | expect_trace

prepare file-name libname
echo 'OPTION,VERSION => value 4.10A' | replies
run_quiet
body "TXCALLC BIBLI,DISQUE,$(esc "$(winpath "$dir")\\LIBRARY.DAT")" | expect_trace

fresh host-module
put_launcher libhost
put_runtime cdecl TX413EXE.DLL rt
echo 'OPTION,VERSION => value 4.10A' | replies rt
run_quiet rt
body "TXCALLC BIBLI,DISQUE,$(esc "$(winpath "$dir/rt")\\LIBRARY.DAT")" | expect_trace rt

finish
