#!/bin/sh
# Makes the seed corpus of the fuzz targets from the project's own tools:
# containers written by txlib, a tiny Windows program and a tiny native
# program carrying the launcher's string table and embedded-library record,
# and configuration texts. Run from the top of the tree after building the
# native preset (txlib) and with the MinGW and clang compilers installed:
#     tests/fuzz/make-seeds.sh build/native/tools/txlib/txlib
set -e
txlib=$(realpath "$1")
top=$(pwd)
corpus=$top/tests/fuzz/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Members with fixed dates, so that the seeds are the same at every run.
printf 'MAIN OBJECT\n' >MAIN.OBJ
head -c 3000 /dev/zero | tr '\0' 'x' >DATA.BIN
printf '\nLONG-MODULE-NAME.DLL\tLONGMOD.DLL\n\nREADME.TEXT\tMAIN.OBJ\n' >TXBIBLI.LFN
printf 'module\n' >LONGMOD.DLL
touch -d '2024-03-01 10:00:00' MAIN.OBJ DATA.BIN TXBIBLI.LFN LONGMOD.DLL

"$txlib" create EMPTY.LIB >/dev/null
"$txlib" create INNER.LIB >/dev/null
"$txlib" add INNER.LIB MAIN.OBJ >/dev/null
touch -d '2024-03-01 10:00:00' INNER.LIB
"$txlib" create APP.LIB >/dev/null
"$txlib" add APP.LIB MAIN.OBJ DATA.BIN TXBIBLI.LFN LONGMOD.DLL INNER.LIB >/dev/null
"$txlib" create SMALL.LIB >/dev/null
"$txlib" add SMALL.LIB MAIN.OBJ TXBIBLI.LFN LONGMOD.DLL >/dev/null
cp EMPTY.LIB "$corpus/library/empty"
cp INNER.LIB "$corpus/library/one-member"
cp APP.LIB "$corpus/library/members-long-names-nested"

# A tiny Windows program with the launcher's string table and a .rsrc
# section, and a tiny native one with the embedded-library record.
printf 'void _start(void) {}\n' >tiny.c
i686-w64-mingw32-windres "$top/src/launcher/launcher.rc" -O coff -o strings.o
i686-w64-mingw32-gcc -nostdlib -Wl,-e,__start -Wl,--subsystem,windows -s -o tiny.exe tiny.c strings.o
cat >tinyelf.c <<'EOC'
__asm__(".pushsection .note.txlib,\"a\",@note\n.balign 4\n.long 4\n.long 40\n"
        ".long 0x4C425854\n.asciz \"TXL\"\n.ascii \".rsrc\"\n.fill 35,1,0\n.popsection\n");
void _start(void) {}
EOC
"$top/build/native/src/rc2table" "$top/src/launcher/launcher.rc" strings.cpp
clang++ -c -o strings_elf.o strings.cpp
clang -c -o tinyelf.o tinyelf.c
clang -nostdlib -static -Wl,-e,_start -Wl,--build-id=none -o tiny.elf tinyelf.o strings_elf.o
cp tiny.exe "$corpus/exeimage/pe"
cp tiny.elf "$corpus/exeimage/elf"
"$txlib" embed tiny.exe SMALL.LIB -o tiny-app.exe >/dev/null
"$txlib" embed tiny.elf SMALL.LIB -o tiny-app.elf >/dev/null
"$txlib" slots tiny-app.exe --set library=APP.EXE/EXE --set flags=OO >/dev/null
cp tiny-app.exe "$corpus/exeimage/pe-embedded"
cp tiny-app.elf "$corpus/exeimage/elf-embedded"
cp tiny-app.exe "$corpus/embedded/pe-embedded"
cp tiny-app.elf "$corpus/embedded/elf-embedded"
cp tiny.exe "$corpus/embedded/pe-none"

# Configuration texts: slot byte, two entry lengths, then the text.
printf '\012\204\204TX413EXE.DLL,TX413ZQ.DLL,TX411FIC.DLL,TX413DB.DLL,TX413IMG.DLL,TX413SQL.DLL,TX413CPL.DLL,TX413OLE.DLL' >"$corpus/config/modules"
printf '\002\176\176APP.LIB\nZ:\\tmp\\app\\LAUNCHER.EXE' >"$corpus/config/library"
printf '\004\176\010C:\\dir\\sub\\APPLICATION-LIBRARY.LIB\nC:\\x' >"$corpus/config/library-path"
printf '\000\012\012,,rt,,very-long-module-name-here.dll' >"$corpus/config/list-too-long"

# Long-name tables: the table of the application library above, one with
# folder parts, case variants and a repeated long name, and one with a
# carriage return and text after a NUL.
cp TXBIBLI.LFN "$corpus/longnames/app-table"
printf 'head\nDOCS\\README.TXT\tREADME~1.TXT\nDOCS\\readme.txt\tOTHER.TXT\nDOCS\\README.TXT\tSECOND.TXT\n\nNO-TAB-HERE\n' >"$corpus/longnames/folders-and-case"
printf '\nLONG-NAME.TEXT\tLONG~1.TEX\r\nAFTER.NUL.NAME\tX.TXT\000\nHIDDEN-NAME\tTXBIBLI.LFN\n' >"$corpus/longnames/cr-and-nul"

# Member names for extraction: the first byte picks the output folder and
# the separator (bit 7: backslash).
printf '\001DOCS\\SUB\\README.TXT' >"$corpus/extractpath/folders"
printf '\201..\\..\\ESCAPE.TXT' >"$corpus/extractpath/dot-dot"
printf '\002a/./b//c\303\251t\303\251.txt' >"$corpus/extractpath/relative-path"
printf '\003CON\\AUX.TXT' >"$corpus/extractpath/device-names"
