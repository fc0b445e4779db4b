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
    echo "TX4InitInstance $default_modules -> 1"
    echo "TXCALLC SABLIER,OUI"
    echo "TXCALLC OPTION,VERSION => value 4.10A"
    echo "TXCALLC ENVI,<address>"
    echo "  environment TXTRACE_ENV=e2e"
    for line in "$@"; do echo "$line"; done
    echo "TXCALLC PROGRAMME,APPLI.PRJ"
    echo "FinInstance"
}

fresh none
put_launcher nolibrary
put_runtime cdecl
echo 'OPTION,VERSION => value 4.10A' | replies
run
expect_status 1
expect_boxes </dev/null
body | expect_trace

fresh file-name
put_launcher libname
put_runtime cdecl
echo 'OPTION,VERSION => value 4.10A' | replies
run
expect_status 1
expect_boxes </dev/null
body "TXCALLC BIBLI,DISQUE,$(esc "$(winpath "$dir")\\LIBRARY.DAT")" | expect_trace

fresh host-module
put_launcher libhost
put_runtime cdecl TX413EXE.DLL rt
echo 'OPTION,VERSION => value 4.10A' | replies rt
run rt
expect_status 1
expect_boxes </dev/null
body "TXCALLC BIBLI,DISQUE,$(esc "$(winpath "$dir/rt")\\LIBRARY.DAT")" | expect_trace rt

finish
