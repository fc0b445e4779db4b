#!/bin/sh
# The runtime refuses initialisation: no command reaches it, every command
# retries the initialisation, and the launcher ends with status 1 without a
# message. Refused once, only the first command is lost.
. "$(dirname "$0")/lib.sh"

prepare always
replies <<'EOF'
refuse-init 1000
OPTION,VERSION => value 4.10A
EOF
run_quiet
# "SABLIER,OUI", "OPTION,VERSION" and then "ERRE" (no version came back).
expect_trace <<EOF
TX4InitInstance $default_modules -> 0
TX4InitInstance $default_modules -> 0
TX4InitInstance $default_modules -> 0
EOF

# The command lost is the first one, "SABLIER,OUI".
prepare once
replies <<'EOF'
refuse-init 1
OPTION,VERSION => value 4.10A
EOF
run_quiet
{
    echo "TX4InitInstance $default_modules -> 0"
    project_trace | grep -vx 'TXCALLC SABLIER,OUI'
} | expect_trace

finish
