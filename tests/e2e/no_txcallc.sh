#!/bin/sh
# A main runtime module that exports "TX4InitInstance" and "FinInstance" but
# not "TXCALLC": the "not compatible" message naming it twice, status 0, and
# the runtime is never called.
. "$(dirname "$0")/lib.sh"

fresh no-txcallc
put_launcher
put_runtime nocallc
run
expect_status 0
expect_boxes <<'EOF'
caption=Torvix 4.0 style=0x00000040 text=TX413EXE.DLL n'est pas une version compatible\nProgramme arr\xeat\xe9!\n\n\nTX413EXE.DLL is not compatible\nProgram halted\n
EOF
expect_trace </dev/null

finish
