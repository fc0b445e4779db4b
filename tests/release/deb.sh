#!/bin/sh
# The Debian package, made by CPack from this build tree and unpacked into a
# scratch root with dpkg -x: it holds what it should, its programs tell the
# project's version, its manual pages format without a warning, and its
# launcher, set up and given a library by its txlib, extracts and drives its
# trace runtime.
. "$(dirname "$0")/common.sh"

make_package DEB
case "$(basename "$package")" in
txlauncher_"$TXREL_VERSION"_*.deb) ;;
*) fail "the package is named $(basename "$package")" ;;
esac
[ "$(dpkg-deb -f "$package" Version)" = "$TXREL_VERSION" ] ||
    fail "the package's version is $(dpkg-deb -f "$package" Version)"

dpkg-deb -c "$package" | awk '$1 !~ /^d/ { print $NF }' | sort >contents
cat >expected <<'EOF'
./usr/bin/txlib
./usr/lib/txlauncher/launcher
./usr/lib/txlauncher/trace/TX413EXE.DLL
./usr/share/doc/txlauncher/README.md
./usr/share/doc/txlauncher/application.manifest
./usr/share/doc/txlauncher/copyright
./usr/share/man/man1/txlib.1.gz
./usr/share/man/man5/txlib-container.5.gz
EOF
same_lines "the package's files" expected contents

dpkg -x "$package" root || fail "dpkg -x failed"
bin=$work/root/usr/bin
lib=$work/root/usr/lib/txlauncher

for program in "$bin/txlib" "$lib/launcher"; do
    name=$(basename "$program")
    out=$("$program" --version 2>&1)
    [ "$out" = "$name $TXREL_VERSION" ] || fail "$name --version says \"$out\""
done

for page in man1/txlib.1.gz man5/txlib-container.5.gz; do
    name=$(basename "$page" .gz)
    MANPAGER=cat MANWIDTH=80 man --warnings -l "root/usr/share/man/$page" >page.out 2>page.err
    [ -s page.err ] && fail "man -l $name warns: $(cat page.err)"
    title="${name%.*}(${name##*.})"
    head -n 1 page.out | grep -qF "$title" || fail "man -l $name does not show the page $title"
    grep -q '^SEE ALSO' page.out || fail "man -l $name shows no SEE ALSO section"
done

# The installed launcher is stripped: its string table and the record of its
# embedded library must have stayed.
txlib=$bin/txlib
"$txlib" -v slots "$lib/launcher" >slots.out 2>&1 || fail "txlib slots: $(cat slots.out)"
check_slots slots.out

demo_library kit "$lib/trace/TX413EXE.DLL"
mkdir -p run windows
cp "$lib/launcher" base
"$txlib" -q slots base --set flags=O >txlib.out 2>&1 &&
    "$txlib" -q embed base kit/DEMO.LIB -o run/launcher >>txlib.out 2>&1 ||
    fail "txlib could not set up the launcher: $(cat txlib.out)"
printf '%s\n' "$demo_replies" >run/TXREPLY.TXT
# The Windows directory, where WIN.INI could send the modules, is the test's.
(cd run && TX_WINDIR=$work/windows ./launcher >launcher.out 2>&1)
check_demo_run run $? "$lib/trace/TX413EXE.DLL"

finish
