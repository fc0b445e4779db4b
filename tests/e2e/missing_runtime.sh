#!/bin/sh
# No main runtime module beside the launcher: the "not found" message, and
# the process ends with status 0.
. "$(dirname "$0")/lib.sh"

fresh missing
put_launcher
run
expect_status 0
expect_boxes <<'EOF'
caption=Torvix 4.0 style=0x00000040 text=TX413EXE.DLL est introuvable\nProgramme arr\xeat\xe9!\n\n\nTX413EXE.DLL is not found\nProgram halted\n
EOF
expect_trace </dev/null

finish
