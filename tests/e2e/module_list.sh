#!/bin/sh
# The runtime module list of slot 10: names upper-cased, ".DLL" added where
# there is no dot, empty fields skipped, each placed by its list position;
# the first one is the module loaded. A name too long for its entry stops
# start-up before anything is loaded.
. "$(dirname "$0")/lib.sh"

# Another runtime module list: the main runtime module is ABC.DLL. And a
# module name that does not fit its 21 characters once ".DLL" is added.
variant modules modules=abc,,def,x.bin,,
variant longmodule modules=abcdefghijklmnopqr,def

fresh listed
put_launcher modules
put_runtime cdecl ABC.DLL
echo 'OPTION,VERSION => value 0.1' | replies
run_quiet
expect_trace <<'EOF'
TX4InitInstance modules=9 ABC.DLL,DEF.DLL,TX413DB.DLL,TX413SQL.DLL,TX413CPL.DLL,TX413IMG.DLL,X.BIN,,TX413OLE.DLL -> 1
TXCALLC SABLIER,OUI
TXCALLC OPTION,VERSION => value 0.1
TXCALLC ERRE,La dll ABC.DLL est trop ancienne pour cet ex\xe9cutable.\nVersion attendue : 1.00A\nVersion trouv\xe9e : 0.1\n\nABC.DLL is too old.\nYou need version : 1.00A\nWe found version : 0.1\n
FinInstance
EOF

# The listed module is the one looked for, not the default beside it.
prepare not-listed modules
run
expect_status 0
expect_boxes <<'EOF'
caption=Torvix 4.0 style=0x00000040 text=ABC.DLL est introuvable\nProgramme arr\xeat\xe9!\n\n\nABC.DLL is not found\nProgram halted\n
EOF
expect_trace </dev/null

prepare too-long longmodule
run
expect_status 0
expect_boxes <<'EOF'
caption=Torvix 4.0 style=0x00000040 text=Texte trop long (22 caract\xe8res, 21 au plus) :\nabcdefghijklmnopqr\nProgramme arr\xeat\xe9!\n\n\nText too long (22 characters, at most 21):\nabcdefghijklmnopqr\nProgram halted\n
EOF
expect_trace </dev/null

finish
