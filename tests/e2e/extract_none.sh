#!/bin/sh
# Launchers that extract nothing, even though the runtime module on disk
# differs from the member: flags beginning with ">G" or ">g", a launcher with
# flags but no embedded library, and one whose .rsrc header lies beyond the
# first 30000 bytes. The module on disk is left as it was and runs.
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/extract_lib.sh"

embedded '>GOOOOOOO' upper_g
embedded '>gOOOOOOO' lower_g

# Flags but no library: the launcher as built, with the flags set.
cp "$TXE2E_LAUNCHER" "$kit/no_library"
txlib slots no_library --set 'flags=OOOOOOOO'

# The header beyond 30000 bytes: the library is embedded and its offset
# recorded, then the header's name is changed so that the scan does not take
# it, and a copy of the header is added after the library, far past the
# first 30000 bytes (the library's members are read from their own offsets,
# so bytes after them change nothing).
embedded 'OOOOOOOO' far_header
at=$(grep -obUa '\.rsrc' "$kit/far_header" | head -n 1 | cut -d: -f1)
if [ -z "$at" ] || [ "$at" -ge 30000 ]; then
    echo "FAIL [$scenario] no .rsrc header in the first 30000 bytes of the launcher"
    exit 1
fi
dd if="$kit/far_header" of="$kit/far_header.header" bs=1 skip="$at" count=40 2>/dev/null
printf 'X' | dd of="$kit/far_header" bs=1 seek=$((at + 4)) conv=notrunc 2>/dev/null
cat "$kit/far_header.header" >>"$kit/far_header"

for launcher in upper_g lower_g no_library far_header; do
    fresh "$launcher"
    put_kit_launcher "$launcher"
    put_runtime cdecl
    touch -d '2001-02-03 04:05:06' "$dir/TX413EXE.DLL"
    changed=$(change_time "$dir/TX413EXE.DLL")
    echo 'OPTION,VERSION => value 4.10A' | replies
    sleep 1
    run_quiet
    project_trace | expect_trace
    [ "$(change_time "$dir/TX413EXE.DLL")" = "$changed" ] || fail "TX413EXE.DLL was rewritten"
    for module in TX413ZQ.DLL TX411FIC.DLL TX413DB.DLL; do
        no_file "$module"
    done
done

finish
