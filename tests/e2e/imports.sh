#!/bin/sh
# imports.sh OBJDUMP PROGRAM
# The launcher stands alone: every DLL it imports from is KERNEL32, USER32 or
# msvcrt (a runtime library linked dynamically would show here).
dlls=$("$1" -p "$2" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z')
if [ -z "$dlls" ]; then
    echo "no import table read from $2" >&2
    exit 1
fi
status=0
for dll in $dlls; do
    case "$dll" in
    KERNEL32.DLL | USER32.DLL | MSVCRT.DLL) ;;
    *)
        echo "$2 imports $dll" >&2
        status=1
        ;;
    esac
done
exit $status
