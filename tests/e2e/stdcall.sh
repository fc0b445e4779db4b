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
run
expect_status 1
expect_boxes </dev/null
info='TXCALLC INFO,Choix de menu sans code\nMenu item without code'
expect_trace <<EOF
TX4InitInstance $default_modules -> 1
TXCALLC SABLIER,OUI
TXCALLC OPTION,VERSION => value8 410 4.10A
TXCALLC ENVI,<address>
  environment TXTRACE_ENV=e2e
TXCALLC BIBLI,DISQUE,$exe/EXE
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
