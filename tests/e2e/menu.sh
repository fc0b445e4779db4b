#!/bin/sh
# The menu loop: while the reply code is "*M*" (a menu item without code),
# the launcher has the runtime show its notice and goes back to the screen.
. "$(dirname "$0")/lib.sh"

# A start window and no project file.
variant window window=ACCUEIL project=

info='TXCALLC INFO,Choix de menu sans code\nMenu item without code'

# After the project: two menu items without code, then the screen ends.
fresh project
put_launcher
put_runtime cdecl
replies <<'EOF'
OPTION,VERSION => value 1.00a
PROGRAMME, => code *M*
ecran,saisie => code *M*
ecran,saisie => code FIN
EOF
run
expect_status 1
expect_boxes </dev/null
expect_trace <<EOF
TX4InitInstance $default_modules -> 1
TXCALLC SABLIER,OUI
TXCALLC OPTION,VERSION => value 1.00a
TXCALLC ENVI,<address>
  environment TXTRACE_ENV=e2e
TXCALLC BIBLI,DISQUE,$exe/EXE
TXCALLC PROGRAMME,APPLI.PRJ => code *M*
$info
TXCALLC ecran,saisie => code *M*
$info
TXCALLC ecran,saisie => code FIN
FinInstance
EOF

# After a start window: "*M*" from "ouvre" survives the first "ecran,saisie"
# when that carries no code, so the loop runs once.
fresh window
put_launcher window
put_runtime cdecl
replies <<'EOF'
OPTION,VERSION => value 1.00A
ouvre, => code *M*
EOF
run
expect_status 1
expect_boxes </dev/null
expect_trace <<EOF
TX4InitInstance $default_modules -> 1
TXCALLC SABLIER,OUI
TXCALLC OPTION,VERSION => value 1.00A
TXCALLC ENVI,<address>
  environment TXTRACE_ENV=e2e
TXCALLC BIBLI,DISQUE,$exe/EXE
TXCALLC ouvre,ACCUEIL => code *M*
TXCALLC ecran,saisie
$info
TXCALLC ecran,saisie
FinInstance
EOF

finish
