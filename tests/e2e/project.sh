#!/bin/sh
# A project run with the reference configuration: the whole command sequence
# reaches the runtime, with the module table and the environment block, and
# the launcher ends with status 1 without a message of its own.
. "$(dirname "$0")/lib.sh"

fresh reference
put_launcher
put_runtime cdecl
replies <<'EOF'
# the runtime is recent enough
OPTION,VERSION => value 4.10A
EOF
run
expect_status 1
expect_boxes </dev/null
expect_trace <<EOF
TX4InitInstance $default_modules -> 1
TXCALLC SABLIER,OUI
TXCALLC OPTION,VERSION => value 4.10A
TXCALLC ENVI,<address>
  environment TXTRACE_ENV=e2e
TXCALLC BIBLI,DISQUE,$exe/EXE
TXCALLC PROGRAMME,APPLI.PRJ
FinInstance
EOF

finish
