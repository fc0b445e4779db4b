# Shared by the self-extraction scenarios (after lib.sh): an application
# library holding the trace runtime as the main runtime module and three
# small modules, each with a date and time of its own, and launchers built
# from it with the library tool: flags in slot 11, the library embedded.
#
# CTest sets, besides lib.sh's:
#   TXE2E_TXLIB      the library tool (run under Wine in wine mode)

# The modules of the library and the dates they carry (even seconds: FAT
# times have two-second steps).
kit=$TXE2E_SCRATCH/$scenario/kit
rm -rf "$kit"
mkdir -p "$kit"
cp "$TXE2E_RUNTIMES/cdecl/TX413EXE.DLL" "$kit/TX413EXE.DLL"
printf 'second module\n' >"$kit/TX413ZQ.DLL"
printf 'list position 2, module index 6\n' >"$kit/TX411FIC.DLL"
printf 'list position 3\n' >"$kit/TX413DB.DLL"
touch -d '1996-10-07 13:42:08' "$kit/TX413EXE.DLL"
touch -d '1997-01-02 03:04:06' "$kit/TX413ZQ.DLL"
touch -d '1998-05-06 07:08:10' "$kit/TX411FIC.DLL"
touch -d '1999-12-31 23:59:58' "$kit/TX413DB.DLL"

# txlib ARGS...: the library tool in the kit directory.
txlib() {
    txlib_in "$kit" "$@"
}

txlib create APP.LIB
txlib add APP.LIB TX413EXE.DLL TX413ZQ.DLL TX411FIC.DLL TX413DB.DLL

# embedded FLAGS NAME: in the kit, NAME is the launcher with extraction flags
# FLAGS and the application library embedded.
embedded() {
    cp "$TXE2E_LAUNCHER" "$kit/base"
    txlib slots base --set "flags=$1"
    txlib embed base APP.LIB -o "$2"
    chmod +x "$kit/$2"
}

# put_kit_launcher NAME: that launcher as $dir/$exe.
put_kit_launcher() {
    cp "$kit/$1" "$dir/$exe"
}

# same_module FILE [DIR]: DIR/FILE (default $dir) is the kit's module, with
# its date and time.
same_module() {
    at=${2:-$dir}/$1
    if [ ! -f "$at" ]; then
        fail "$1 was not extracted"
    elif ! cmp -s "$kit/$1" "$at"; then
        fail "$1 differs from the member"
    elif [ "$(stat -c %Y "$kit/$1")" != "$(stat -c %Y "$at")" ]; then
        fail "$1 has $(date -r "$at" '+%F %T'), the member $(date -r "$kit/$1" '+%F %T')"
    fi
}

# no_file FILE [DIR]
no_file() {
    [ ! -e "${2:-$dir}/$1" ] || fail "$1 was extracted"
}

# change_time FILE: the status change time, which any rewrite moves.
change_time() {
    stat -c %z "$1"
}

# The Windows directory: natively one of the scenario's own (through
# TX_WINDIR, which also holds win.ini); under Wine the prefix's, whose
# win.ini is put back as it was when the scenario ends.
if [ "$TXE2E_MODE" = wine ]; then
    windir=$TXE2E_WINEPREFIX/drive_c/windows
else
    windir=$TXE2E_SCRATCH/$scenario/windows
    rm -rf "$windir"
    mkdir -p "$windir"
    export TX_WINDIR="$windir"
fi
if [ -f "$windir/win.ini" ]; then
    cp "$windir/win.ini" "$kit/win.ini.saved"
fi
restore_windir() {
    if [ -f "$kit/win.ini.saved" ]; then
        cp "$kit/win.ini.saved" "$windir/win.ini"
    else
        rm -f "$windir/win.ini"
    fi
    for module in TX413EXE.DLL TX413ZQ.DLL TX411FIC.DLL TX413DB.DLL TXREPLY.TXT TXTRACE.LOG; do
        rm -f "$windir/$module"
    done
}
trap restore_windir EXIT

# set_local VALUE: WIN.INI's LOCAL in section EXETORVIX; no VALUE: none.
set_local() {
    if [ -f "$kit/win.ini.saved" ]; then
        cp "$kit/win.ini.saved" "$windir/win.ini"
    else
        : >"$windir/win.ini"
    fi
    if [ $# -gt 0 ]; then
        printf '\r\n[EXETORVIX]\r\nLOCAL=%s\r\n' "$1" >>"$windir/win.ini"
    fi
}
set_local
