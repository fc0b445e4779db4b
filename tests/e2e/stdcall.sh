#!/bin/sh
# A runtime whose entry points use the standard calling convention (they pop
# their own arguments): the launcher calls it as safely as a C-convention
# one, through a whole run with the menu loop. Its version comes in the
# number-and-text form of the reply.
. "$(dirname "$0")/lib.sh"

fresh stdcall
put_launcher
put_runtime stdcall
replies <<'EOF'
OPTION,VERSION => value8 410 4.10A
PROGRAMME, => code *M*
ecran,saisie => code *M*
ecran,saisie => code *M*
ecran,saisie => code FIN
EOF
run_quiet
info='TXCALLC INFO,Choix de menu sans code\nMenu item without code'
{ start_trace 'value8 410 4.10A'; cat <<EOF; } | expect_trace
TXCALLC PROGRAMME,APPLI.PRJ => code *M*
$info
TXCALLC ecran,saisie => code *M*
$info
TXCALLC ecran,saisie => code *M*
$info
TXCALLC ecran,saisie => code FIN
FinInstance
EOF

finish
