#!/bin/sh
# Texts the launcher cannot pass on whole are refused, never cut: a command
# over 255 characters, and a library path over 259 once resolved. The
# runtime is unloaded, a message says what is too long, and the process ends
# with status 0.
. "$(dirname "$0")/lib.sh"

p30=PPPPPPPPPPPPPPPPPPPPPPPPPPPPPP

# repeat CHAR N
repeat() {
    printf "%${2}s" "" | tr ' ' "$1"
}

# A project file that fills slots 5 and 6 (no terminator, no padding in
# either): 252 characters, so that its command is longer than 255. A library
# file name of 252 characters across slots 3 and 4: resolved, it is longer
# than a path may be.
variant longproject "project=$(repeat P 126)$(repeat Q 126)"
variant longlibrary "library=$(repeat L 126)$(repeat M 126)"

# too_long LENGTH LIMIT EXCERPT: the message box of the refusal.
too_long() {
    printf 'caption=Torvix 4.0 style=0x00000040 text=Texte trop long (%s caract\\xe8res, %s au plus) :\\n%s\\nProgramme arr\\xeat\\xe9!\\n\\n\\nText too long (%s characters, at most %s):\\n%s\\nProgram halted\\n\n' \
        "$1" "$2" "$3" "$1" "$2" "$3"
}

# The project file fills slots 5 and 6: "PROGRAMME," and 252 characters.
prepare command longproject
echo 'OPTION,VERSION => value 4.10A' | replies
run
expect_status 0
too_long 262 255 "PROGRAMME,$p30..." | expect_boxes
{ start_trace; echo FinInstance; } | expect_trace

# A library file name of 252 characters after the launcher's directory.
prepare library-path longlibrary
echo 'OPTION,VERSION => value 4.10A' | replies
run
expect_status 0
found=$(winpath "$dir/$exe")
directory=$(winpath "$dir")
length=$((${#directory} + 1 + 252))
excerpt=$(printf '%s' "$found" | cut -c1-40)
too_long "$length" 259 "$(esc "$excerpt")..." | expect_boxes
{ opening_trace; echo FinInstance; } | expect_trace

finish
