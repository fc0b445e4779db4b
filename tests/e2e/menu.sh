#!/bin/sh
# The menu loop: while the reply code is "*M*" (a menu item without code),
# the launcher has the runtime show its notice and goes back to the screen.
. "$(dirname "$0")/lib.sh"

# A start window and no project file.
variant window window=ACCUEIL project=

info='TXCALLC INFO,Choix de menu sans code\nMenu item without code'

# After the project: two menu items without code, then the screen ends.
prepare project
replies <<'EOF'
OPTION,VERSION => value 1.00a
PROGRAMME, => code *M*
ecran,saisie => code *M*
ecran,saisie => code FIN
EOF
run_quiet
{ start_trace 'value 1.00a'; cat <<EOF; } | expect_trace
TXCALLC PROGRAMME,APPLI.PRJ => code *M*
$info
TXCALLC ecran,saisie => code *M*
$info
TXCALLC ecran,saisie => code FIN
FinInstance
EOF

# After a start window: "*M*" from "ouvre" survives the first "ecran,saisie"
# when that carries no code, so the loop runs once.
prepare window window
replies <<'EOF'
OPTION,VERSION => value 1.00A
ouvre, => code *M*
EOF
run_quiet
{ start_trace 'value 1.00A'; cat <<EOF; } | expect_trace
TXCALLC ouvre,ACCUEIL => code *M*
TXCALLC ecran,saisie
$info
TXCALLC ecran,saisie
FinInstance
EOF

finish
