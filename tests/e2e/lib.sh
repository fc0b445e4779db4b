# Shared by the end-to-end scenarios: each scenario runs the real launcher
# with the trace runtime in fresh scratch directories, then compares what the
# runtime received (its trace), the message boxes shown and the exit status
# with what it expects.
#
# CTest sets:
#   TXE2E_MODE       wine (the Windows programs under Wine) or native
#   TXE2E_LAUNCHER   the launcher program (reference configuration)
#   TXE2E_TXLIB      the library tool (run under Wine in wine mode), which
#                    makes the launchers with other slot values
#   TXE2E_RUNTIMES   directory holding cdecl/, stdcall/ and nocallc/
#   TXE2E_SCRATCH    directory for the scratch directories
#   TXE2E_WINERUN, TXE2E_WINEPREFIX   how to run Windows programs (wine mode)
#
# A trace is compared after its "ENVI,<address>" has been replaced by
# "ENVI,<address>"; the runtime's following "environment" line shows that the
# address led to the launcher's environment block.

set -u

scenario=$(basename "$0" .sh)
# One line per failed check. A file, not a variable: a check fed through a
# pipeline ("... | expect_trace") runs in a subshell.
failure_log=$TXE2E_SCRATCH/$scenario/failures
mkdir -p "$TXE2E_SCRATCH/$scenario"
: >"$failure_log"

if [ "$TXE2E_MODE" = wine ]; then
    exe=LAUNCHER.EXE
else
    exe=launcher
fi

# fresh NAME: a new empty scratch directory, in $dir.
fresh() {
    dir=$TXE2E_SCRATCH/$scenario/$1
    rm -rf "$dir"
    mkdir -p "$dir"
    run_name=$1
}

# txlib_in DIR ARGS...: the library tool, quiet, with DIR as the current
# directory; what it says goes to DIR/txlib.out. A refusal stops the
# scenario, since nothing can be checked without what the tool makes.
txlib_in() {
    t_dir=$1
    shift
    if [ "$TXE2E_MODE" = wine ]; then
        # Wine takes the command line as UTF-8 and hands it to the program
        # in the Windows code page.
        (cd "$t_dir" && LC_ALL=C.UTF-8 "$TXE2E_WINERUN" --prefix "$TXE2E_WINEPREFIX" \
            "$TXE2E_TXLIB" -q "$@")
    else
        (cd "$t_dir" && "$TXE2E_TXLIB" -q "$@")
    fi >"$t_dir/txlib.out" 2>&1 || {
        echo "FAIL [$scenario] txlib $*:"
        cat "$t_dir/txlib.out"
        exit 1
    }
}

# variant NAME SLOT=VALUE...: NAME, for put_launcher, is the reference
# launcher with these configuration slots set by the library tool (txlib
# slots --set SLOT=VALUE, SLOT a number or a short name); the other slots keep
# their reference values. Made in the scenario's own scratch directory.
variant() {
    v_dir=$TXE2E_SCRATCH/$scenario/variants
    v_name=$1
    shift
    mkdir -p "$v_dir"
    rm -f "$v_dir/$v_name"
    cp "$TXE2E_LAUNCHER" "$v_dir/$v_name" || exit 1
    # Each SLOT=VALUE becomes --set SLOT=VALUE.
    v_count=$#
    while [ "$v_count" -gt 0 ]; do
        set -- "$@" --set "$1"
        shift
        v_count=$((v_count - 1))
    done
    txlib_in "$v_dir" slots "$v_name" "$@"
}

# put_launcher [VARIANT]: the launcher (or a variant made with variant) as
# $dir/$exe.
put_launcher() {
    if [ $# -eq 0 ]; then
        src=$TXE2E_LAUNCHER
    else
        src=$TXE2E_SCRATCH/$scenario/variants/$1
    fi
    cp "$src" "$dir/$exe" || fail "no launcher $src"
}

# put_runtime KIND [FILE] [SUBDIR]: the trace runtime of KIND (cdecl, stdcall,
# nocallc) as FILE (default TX413EXE.DLL) in $dir or $dir/SUBDIR.
put_runtime() {
    to=$dir${3:+/$3}
    mkdir -p "$to"
    cp "$TXE2E_RUNTIMES/$1/TX413EXE.DLL" "$to/${2:-TX413EXE.DLL}"
}

# replies [SUBDIR] < script: the runtime's reply script.
replies() {
    cat >"$dir${1:+/$1}/TXREPLY.TXT"
}

# winpath HOSTPATH: the path as the launcher sees it (Z:\...).
winpath() {
    printf 'Z:%s' "$1" | tr / '\\'
}

# esc TEXT: TEXT as the trace writes it (backslashes doubled).
esc() {
    printf '%s' "$1" | sed 's/\\/\\\\/g'
}

# The message boxes of the last run, one line each:
#   caption=CAPTION style=0xSTYLE text=TEXT
# with the texts escaped as Wine's relay trace does (\n, \\, \", \xhh for
# bytes outside printable ASCII). Under Wine they come from the relay trace of
# MessageBoxA (its pointers shown as wide as the program's, 32 or 64 bits),
# whose owner must be null; natively from what the platform layer writes to
# stderr. The trace shows at most about 300 characters of a
# text: a text it cut comes as "text...=" followed by what it showed.
boxes_of_run() {
    if [ "$TXE2E_MODE" = wine ]; then
        grep 'Call user32\.MessageBoxA(' "$dir/stderr" |
            sed -E 's/^.*Call user32\.MessageBoxA\(([0-9a-f]+),[0-9a-f]+ "((\\.|[^"\\])*)"(\.\.\.)?,[0-9a-f]+ "((\\.|[^"\\])*)",([0-9a-f]{8})\).*$/\1 caption=\5 style=0x\7 text\4=\2/' |
            while IFS= read -r line; do
                # The owner comes first, as wide as Wine prints a pointer of
                # the program's width.
                case "${line%% *}" in
                *[!0]*) printf 'box with an owner: %s\n' "$line" ;;
                *) printf '%s\n' "${line#* }" ;;
                esac
            done
    else
        LC_ALL=C awk '
            BEGIN { for (i = 1; i < 256; i++) ord[sprintf("%c", i)] = i }
            function esc(s,    i, n, c, o, r) {
                r = ""
                n = length(s)
                for (i = 1; i <= n; i++) {
                    c = substr(s, i, 1); o = ord[c]
                    if (c == "\\") r = r "\\\\"
                    else if (c == "\"") r = r "\\\""
                    else if (c == "\t") r = r "\\t"
                    else if (c == "\r") r = r "\\r"
                    else if (o < 32 || o > 126) r = r sprintf("\\x%02x", o)
                    else r = r c
                }
                return r
            }
            /^\[MessageBox caption=".*" style=0x[0-9a-f]+\]$/ {
                caption = $0
                sub(/^\[MessageBox caption="/, "", caption)
                sub(/" style=0x[0-9a-f]+\]$/, "", caption)
                style = $0
                sub(/^.*" style=/, "", style)
                sub(/\]$/, "", style)
                inside = 1; text = ""; first = 1
                next
            }
            inside && $0 == "[/MessageBox]" {
                print "caption=" esc(caption) " style=" style " text=" text
                inside = 0
                next
            }
            inside { text = text (first ? "" : "\\n") esc($0); first = 0 }
        ' "$dir/stderr"
    fi
}

# prepare NAME [VARIANT]: a fresh $dir NAME holding the launcher (or the
# variant) and the C-convention trace runtime.
prepare() {
    fresh "$1"
    put_launcher ${2:+"$2"}
    put_runtime cdecl
}

# run [SUBDIR]: runs $dir/$exe with the current directory $dir or $dir/SUBDIR;
# sets $status and writes $dir/boxes.
run() {
    (
        cd "$dir${1:+/$1}" || exit 99
        if [ "$TXE2E_MODE" = wine ]; then
            TXTRACE_ENV=e2e WINEDEBUG=-all,trace+relay timeout 120 \
                "$TXE2E_WINERUN" --prefix "$TXE2E_WINEPREFIX" "$dir/$exe"
        else
            # The boxes' bytes as the launcher wrote them: no conversion
            # for a UTF-8 terminal.
            LC_ALL=C TXTRACE_ENV=e2e timeout 120 "$dir/$exe"
        fi
    ) >"$dir/stdout" 2>"$dir/stderr"
    status=$?
    boxes_of_run >"$dir/boxes"
    # A sanitizer's exit status can look like the launcher's own (1): its
    # report is what tells.
    if grep -q 'Sanitizer\|runtime error:' "$dir/stderr"; then
        fail "sanitizer report in $dir/stderr"
    fi
}

fail() {
    echo "FAIL [$run_name] $*"
    echo "$run_name" >>"$failure_log"
}

# expect_status STATUS. When the status differs, the end of what the run
# wrote to stderr (Wine's trace lines left out) is shown: it often tells why.
expect_status() {
    [ "$status" = "$1" ] && return
    fail "exit status $status, expected $1; the end of its stderr:"
    grep -Ev '^[0-9a-f]{4}:(Call |Ret |Starting |trace:relay:)' "$dir/stderr" |
        tail -n 8 | sed 's/^/    /'
}

# run_quiet [SUBDIR]: run, which must end as the runtime ends it: status 1
# and no message box.
run_quiet() {
    run ${1:+"$1"}
    expect_status 1
    expect_boxes </dev/null
}

# compare WHAT ACTUAL_FILE < expected
compare() {
    cat >"$dir/expected.$1"
    if ! cmp -s "$dir/expected.$1" "$2"; then
        fail "$1 differs (expected, then received):"
        diff -u "$dir/expected.$1" "$2" | sed 1,2d
    fi
}

# expect_trace [SUBDIR] < expected trace
expect_trace() {
    log=$dir${1:+/$1}/TXTRACE.LOG
    [ -f "$log" ] || : >"$log"
    sed 's/^TXCALLC ENVI,[0-9][0-9]*$/TXCALLC ENVI,<address>/' "$log" >"$dir/trace"
    compare trace "$dir/trace"
}

# expect_boxes < expected boxes (nothing for none). A text that Wine's trace
# cut matches an expected text that begins with what the trace showed.
expect_boxes() {
    cat >"$dir/wanted.boxes"
    awk -v expected="$dir/wanted.boxes" '
        BEGIN { while ((getline line < expected) > 0) want[++n] = line }
        {
            at = index($0, " text...=")
            if (at) {
                shown = substr($0, 1, at - 1) " text=" substr($0, at + 9)
                if (FNR <= n && index(want[FNR], shown) == 1) $0 = want[FNR]
            }
            print
        }' "$dir/boxes" >"$dir/boxes.matched"
    compare boxes "$dir/boxes.matched" <"$dir/wanted.boxes"
}

# The module table handed to the runtime when slot 10 holds the default list.
default_modules='modules=9 TX413EXE.DLL,TX413ZQ.DLL,TX413DB.DLL,TX413SQL.DLL,TX413CPL.DLL,TX413IMG.DLL,TX411FIC.DLL,,TX413OLE.DLL'

# opening_trace [REPLY]: how the trace of a run begins when the runtime takes
# the initialisation and answers the version request with REPLY (default
# "value 4.10A"): up to the environment block.
opening_trace() {
    echo "TX4InitInstance $default_modules -> 1"
    echo "TXCALLC SABLIER,OUI"
    echo "TXCALLC OPTION,VERSION => ${1:-value 4.10A}"
    echo "TXCALLC ENVI,<address>"
    echo "  environment TXTRACE_ENV=e2e"
}

# start_trace [REPLY]: the same, then the reference library: the launcher's
# own file.
start_trace() {
    opening_trace "$@"
    echo "TXCALLC BIBLI,DISQUE,$exe/EXE"
}

# project_trace: the trace of a project run with the reference configuration.
project_trace() {
    start_trace
    echo "TXCALLC PROGRAMME,APPLI.PRJ"
    echo "FinInstance"
}

finish() {
    failures=$(wc -l <"$failure_log")
    if [ "$failures" -ne 0 ]; then
        echo "$scenario: $failures check(s) failed; files under $TXE2E_SCRATCH/$scenario"
        exit 1
    fi
    echo "$scenario: passed"
    exit 0
}
