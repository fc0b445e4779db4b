#!/bin/sh
# The Windows ZIP, made by CPack from this build tree (win64) and the win32
# build beside it: it holds what it should, each program is built for the
# system its name says, the programs carry the project's version resource,
# and in both launchers that resource left the string table (eleven entries at
# their stored lengths) and the embedded-library record (the first ".rsrc" of
# the file is the section header, within the first 30000 bytes) as the
# launcher and txlib need them. Then each launcher, given a demo library, is
# started under Wine and must extract and drive its trace runtime.
#
# 32-bit programs run only where the machine runs them (scripts/can-run-32bit
# or, without it, a 32-bit Wine that starts); elsewhere those runs are
# skipped and said so, and the library work is done by this build's 64-bit
# txlib.exe.
#
# CTest also sets:
#   TXREL_TXLIB64   this build's txlib.exe
#   TXREL_WINDRES   windres, which reads the version resource back
#   TXREL_WINERUN, TXREL_WINEPREFIX   how to run Windows programs
. "$(dirname "$0")/common.sh"

partner=$(sed -n 's/^TX_PACKAGE_PARTNER_DIR:PATH=//p' "$TXREL_BUILD/CMakeCache.txt")
if [ ! -f "$partner/release/launcher.exe" ]; then
    echo "SKIPPED: the win32 build $partner is not built; build the win32 preset first"
    exit 77
fi

make_package ZIP
top=txlauncher-$TXREL_VERSION-windows
[ "$(basename "$package")" = "$top.zip" ] || fail "the package is named $(basename "$package")"
bsdtar -tf "$package" | grep -v '/$' | sort >contents
sed "s/^/$top\//" >expected <<'EOF'
LICENSE.txt
README.md
application.manifest
launcher.exe
launcher64.exe
trace32/TX413EXE.DLL
trace64/TX413EXE.DLL
txlib.exe
EOF
same_lines "the ZIP's files" expected contents
mkdir unpacked && bsdtar -xf "$package" -C unpacked || fail "the ZIP does not unpack"
kit=$work/unpacked/$top

# The machine field of each program's PE header: i386 or x86-64.
for entry in launcher.exe:014c txlib.exe:014c trace32/TX413EXE.DLL:014c \
    launcher64.exe:8664 trace64/TX413EXE.DLL:8664; do
    file=$kit/${entry%:*}
    machine=$(od -An -t x2 -j $(($(u32 "$file" 60) + 4)) -N 2 "$file" | tr -d ' ')
    [ "$machine" = "${entry#*:}" ] || fail "${entry%:*} is built for machine 0x$machine"
done

IFS=. read -r major minor patch <<EOF
$TXREL_VERSION
EOF
for program in launcher.exe launcher64.exe txlib.exe; do
    "$TXREL_WINDRES" -i "$kit/$program" -O rc >"$program.rc" 2>&1 ||
        fail "$program: windres cannot read its resources: $(cat "$program.rc")"
    grep -qxF " FILEVERSION $major, $minor, $patch, 0" "$program.rc" ||
        fail "$program: no FILEVERSION $major, $minor, $patch, 0"
    grep -qF "VALUE \"FileVersion\", \"$TXREL_VERSION\"" "$program.rc" ||
        fail "$program: no FileVersion \"$TXREL_VERSION\""
    grep -qF "VALUE \"OriginalFilename\", \"$program\"" "$program.rc" ||
        fail "$program: its version resource does not name it"
done

# run_windows PROGRAM ARGS...: runs a Windows program in the current
# directory, its output to ./run.out; answers its exit status.
run_windows() {
    LC_ALL=C.UTF-8 "$TXREL_WINERUN" --prefix "$TXREL_WINEPREFIX" "$@" >run.out 2>&1
}

if [ -x "$TXREL_SOURCE/scripts/can-run-32bit" ]; then
    "$TXREL_SOURCE/scripts/can-run-32bit" >/dev/null 2>&1 && bits32=yes || bits32=no
else
    /usr/lib/wine/wine --version >/dev/null 2>&1 && bits32=yes || bits32=no
fi
if [ $bits32 = yes ]; then
    tool=$kit/txlib.exe
    run_windows "$tool" --version
    [ "$(tr -d '\r' <run.out)" = "txlib $TXREL_VERSION" ] ||
        fail "txlib.exe --version says \"$(cat run.out)\""
else
    tool=$TXREL_TXLIB64
    echo "SKIPPED (this machine runs no 32-bit programs): txlib.exe --version;" \
        "launcher.exe starting the demo library; the demo is made with the 64-bit txlib.exe" \
        "of the build instead of the ZIP's"
fi
txlib="run_windows $tool"

# try_launcher LAUNCHER BITS: the launcher's string table and record, then
# the launcher with a demo library embedded, started when BITS can run.
try_launcher() {
    name=$1
    bits=$2
    dir=$work/$bits
    mkdir -p "$dir"
    cp "$kit/$name" "$dir/base.exe"
    cd "$dir" || exit 1
    header=$(($(u32 base.exe 60) + 24 + $(u16 base.exe $(($(u32 base.exe 60) + 20)))))
    count=$(u16 base.exe $(($(u32 base.exe 60) + 6)))
    rsrc=
    i=0
    while [ $i -lt "$count" ]; do
        at=$((header + i * 40))
        [ "$(dd if=base.exe bs=1 skip=$at count=8 2>/dev/null | tr -d '\0')" = .rsrc ] && rsrc=$at
        i=$((i + 1))
    done
    scan=$(first_rsrc base.exe)
    if [ -z "$rsrc" ] || [ "$scan" != "$rsrc" ] || [ "$scan" -ge 30000 ]; then
        fail "$name: the first \".rsrc\" is at ${scan:-none}, the section header at ${rsrc:-none}"
    fi
    [ "$(u32 base.exe $((scan + 28)))" = 0 ] || fail "$name: the record's offset field is not 0"

    demo_library kit "$kit/trace$bits/TX413EXE.DLL"
    $txlib -v slots base.exe --set flags=O || fail "$name: txlib slots --set: $(cat run.out)"
    tr -d '\r' <run.out >slots.out
    check_slots slots.out
    if ! $txlib embed base.exe kit/DEMO.LIB -o APP.EXE; then
        fail "$name: txlib embed: $(cat run.out)"
        cd "$work" || exit 1
        return
    fi
    offset=$(tr -d '\r' <run.out | sed -n 's/.* embedded at offset \([0-9]*\) .*/\1/p')
    [ -n "$offset" ] && [ "$(u32 APP.EXE $((scan + 28)))" = "$offset" ] ||
        fail "$name: the record does not hold the offset txlib told: $(cat run.out)"

    if [ "$bits" = 32 ] && [ $bits32 = no ]; then
        cd "$work" || exit 1
        return
    fi
    mkdir run
    cp APP.EXE run/LAUNCHER.EXE
    printf '%s\n' "$demo_replies" >run/TXREPLY.TXT
    (cd run && run_windows LAUNCHER.EXE)
    check_demo_run "$dir/run" $? "$kit/trace$bits/TX413EXE.DLL"
    cd "$work" || exit 1
}

try_launcher launcher.exe 32
try_launcher launcher64.exe 64
finish
