#!/bin/sh
# The runtime refuses initialisation: no command reaches it, every command
# retries the initialisation, and the launcher ends with status 1 without a
# message. Refused once, only the first command is lost.
. "$(dirname "$0")/lib.sh"

fresh always
put_launcher
put_runtime cdecl
replies <<'EOF'
refuse-init 1000
OPTION,VERSION => value 4.10A
EOF
run
expect_status 1
expect_boxes </dev/null
# "SABLIER,OUI", "OPTION,VERSION" and then "ERRE" (no version came back).
expect_trace <<EOF
TX4InitInstance $default_modules -> 0
TX4InitInstance $default_modules -> 0
TX4InitInstance $default_modules -> 0
EOF

fresh once
put_launcher
put_runtime cdecl
replies <<'EOF'
refuse-init 1
OPTION,VERSION => value 4.10A
EOF
run
expect_status 1
expect_boxes </dev/null
expect_trace <<EOF
TX4InitInstance $default_modules -> 0
TX4InitInstance $default_modules -> 1
TXCALLC OPTION,VERSION => value 4.10A
TXCALLC ENVI,<address>
  environment TXTRACE_ENV=e2e
TXCALLC BIBLI,DISQUE,$exe/EXE
TXCALLC PROGRAMME,APPLI.PRJ
FinInstance
EOF

finish
