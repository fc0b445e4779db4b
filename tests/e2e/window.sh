#!/bin/sh
# A start window instead of a project file: "ouvre" then "ecran,saisie",
# unless the window was left with "ESC" or "*E*".
. "$(dirname "$0")/lib.sh"

# A start window and no project file; neither start window nor project file.
variant window window=ACCUEIL project=
variant blank project=

prepare escape window
replies <<'EOF'
OPTION,VERSION => value 1.00A
ouvre, => code ESC
EOF
run_quiet
{ start_trace 'value 1.00A'; cat <<'EOF'; } | expect_trace
TXCALLC ouvre,ACCUEIL => code ESC
FinInstance
EOF

prepare error window
replies <<'EOF'
OPTION,VERSION => value 1.00B
ouvre, => code *E*
EOF
run_quiet
{ start_trace 'value 1.00B'; cat <<'EOF'; } | expect_trace
TXCALLC ouvre,ACCUEIL => code *E*
FinInstance
EOF

# A reply code from an earlier command does not count for "ouvre": the code
# is cleared before it, so a reply without one leads to "ecran,saisie".
prepare stale-code window
replies <<'EOF'
SABLIER,OUI => code ESC
OPTION,VERSION => value 1.00A
EOF
run_quiet
{ start_trace 'value 1.00A' | sed 's/^TXCALLC SABLIER,OUI$/& => code ESC/'; cat <<'EOF'; } | expect_trace
TXCALLC ouvre,ACCUEIL
TXCALLC ecran,saisie
FinInstance
EOF

# No start window and no project file: "ouvre," with nothing after it.
prepare blank blank
replies <<'EOF'
OPTION,VERSION => value 1.00A
ouvre, => code OUI
ecran,saisie => code FIN
EOF
run_quiet
{ start_trace 'value 1.00A'; cat <<'EOF'; } | expect_trace
TXCALLC ouvre, => code OUI
TXCALLC ecran,saisie => code FIN
FinInstance
EOF

finish
