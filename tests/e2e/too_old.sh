#!/bin/sh
# A runtime older than the version in slot 9: the runtime is asked to show
# the bilingual "ERRE" text with its six arguments, is unloaded, and the
# launcher ends with status 1 without a message box of its own.
. "$(dirname "$0")/lib.sh"

# erre FOUND: the "ERRE" command for the main runtime module and 1.00A.
erre() {
    printf '%s' "TXCALLC ERRE,La dll TX413EXE.DLL est trop ancienne pour cet ex\\xe9cutable.\\n"
    printf '%s' "Version attendue : 1.00A\\nVersion trouv\\xe9e : $1\\n\\n"
    printf '%s' "TX413EXE.DLL is too old.\\nYou need version : 1.00A\\n"
    printf '%s\n' "We found version : $1\\n"
}

prepare older
replies <<'EOF'
OPTION,VERSION => value 1.00
EOF
run_quiet
{ cat <<EOF; erre 1.00; echo FinInstance; } | expect_trace
TX4InitInstance $default_modules -> 1
TXCALLC SABLIER,OUI
TXCALLC OPTION,VERSION => value 1.00
EOF

# No version in the reply: too old for any expected version.
prepare no-version
: | replies
run_quiet
{ cat <<EOF; erre ''; echo FinInstance; } | expect_trace
TX4InitInstance $default_modules -> 1
TXCALLC SABLIER,OUI
TXCALLC OPTION,VERSION
EOF

# A found version of 200 characters would make the command longer than 255
# characters: the runtime is still told, with the found version cut in both
# places to the 38 characters that fit beside the default names.
long=1.00
while [ ${#long} -lt 200 ]; do
    long=$long$((${#long} % 10))
done
prepare long-version
replies <<EOF
OPTION,VERSION => value $long
EOF
run_quiet
{ cat <<EOF; erre "$(printf '%s' "$long" | cut -c1-38)"; echo FinInstance; } | expect_trace
TX4InitInstance $default_modules -> 1
TXCALLC SABLIER,OUI
TXCALLC OPTION,VERSION => value $long
EOF

finish
