#!/bin/sh
# A module file that differs from its member and cannot be deleted (it is
# read-only: access denied) stops the launcher before the runtime is loaded,
# with a message that gives the full path twice and the system's error number
# last; the exit status is 0 and the file is left as it was.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/extract_lib.sh"

embedded 'O.O.....' flagged

fresh read-only
put_kit_launcher flagged
printf 'an older module\n' >"$dir/TX413EXE.DLL"
chmod a-w "$dir/TX413EXE.DLL"
echo 'OPTION,VERSION => value 4.10A' | replies
run
expect_status 0
path="$(winpath "$dir")\\TX413EXE.DLL"
expect_boxes <<EOT
caption=Torvix 4.0 style=0x00000040 text=$(esc "$path") est en cours d'utilisation, ou vous n'avez pas les droits pour recr\\xe9er ce fichier\\nProgramme arr\\xeat\\xe9!\\n\\n\\n$(esc "$path") is in processing or you do not have right to create this file\\nProgram halted\\n5\\n
EOT
expect_trace </dev/null
[ "$(cat "$dir/TX413EXE.DLL")" = 'an older module' ] || fail "the read-only module changed"
no_file TX411FIC.DLL

finish
