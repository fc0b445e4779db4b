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

# Natively the box goes to a UTF-8 terminal in UTF-8.
if [ "$TXE2E_MODE" != wine ]; then
    (cd "$dir" && LC_ALL=C.UTF-8 "$dir/$exe") 2>"$dir/utf8" >/dev/null
    grep -qxF 'Programme arrêté!' "$dir/utf8" || fail "not shown in UTF-8: $(cat "$dir/utf8")"
fi

finish
