#!/bin/sh
# A project run with the reference configuration: the whole command sequence
# reaches the runtime, with the module table and the environment block, and
# the launcher ends with status 1 without a message of its own.
. "$(dirname "$0")/lib.sh"

prepare reference
replies <<'EOF'
# the runtime is recent enough
OPTION,VERSION => value 4.10A
EOF
run_quiet
project_trace | expect_trace

finish
