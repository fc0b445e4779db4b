#!/bin/sh
# A start window instead of a project file: "ouvre" then "ecran,saisie",
# unless the window was left with "ESC" or "*E*".
. "$(dirname "$0")/lib.sh"

# A start window and no project file; neither start window nor project file.
variant window window=ACCUEIL project=
variant blank project=

# opening VERSION: what every run of this scenario sends first.
opening() {
    cat <<EOF
TX4InitInstance $default_modules -> 1
TXCALLC SABLIER,OUI
TXCALLC OPTION,VERSION => value $1
TXCALLC ENVI,<address>
  environment TXTRACE_ENV=e2e
TXCALLC BIBLI,DISQUE,$exe/EXE
EOF
}

fresh escape
put_launcher window
put_runtime cdecl
replies <<'EOF'
OPTION,VERSION => value 1.00A
ouvre, => code ESC
EOF
run
expect_status 1
expect_boxes </dev/null
{ opening 1.00A; cat <<'EOF'; } | expect_trace
TXCALLC ouvre,ACCUEIL => code ESC
FinInstance
EOF

fresh error
put_launcher window
put_runtime cdecl
replies <<'EOF'
OPTION,VERSION => value 1.00B
ouvre, => code *E*
EOF
run
expect_status 1
expect_boxes </dev/null
{ opening 1.00B; cat <<'EOF'; } | expect_trace
TXCALLC ouvre,ACCUEIL => code *E*
FinInstance
EOF

# A reply code from an earlier command does not count for "ouvre": the code
# is cleared before it, so a reply without one leads to "ecran,saisie".
fresh stale-code
put_launcher window
put_runtime cdecl
replies <<'EOF'
SABLIER,OUI => code ESC
OPTION,VERSION => value 1.00A
EOF
run
expect_status 1
expect_boxes </dev/null
{ opening 1.00A | sed 's/^TXCALLC SABLIER,OUI$/& => code ESC/'; cat <<'EOF'; } | expect_trace
TXCALLC ouvre,ACCUEIL
TXCALLC ecran,saisie
FinInstance
EOF

# No start window and no project file: "ouvre," with nothing after it.
fresh blank
put_launcher blank
put_runtime cdecl
replies <<'EOF'
OPTION,VERSION => value 1.00A
ouvre, => code OUI
ecran,saisie => code FIN
EOF
run
expect_status 1
expect_boxes </dev/null
{ opening 1.00A; cat <<'EOF'; } | expect_trace
TXCALLC ouvre, => code OUI
TXCALLC ecran,saisie => code FIN
FinInstance
EOF

finish
