#!/bin/sh
# The Debian package, made by CPack from this build tree and unpacked into a
# scratch root with dpkg -x: it holds what it should, lintian finds nothing
# the package does not explain, its dates are the last commit's and its
# entries in order, its programs are stripped and tell the project's
# version, its manual pages format without a warning, the sessions of the
# launcher's and the trace runtime's pages run as the pages show them, and
# its launcher, set up and given a library by its txlib, extracts and drives
# its trace runtime.
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
./usr/share/doc/txlauncher/changelog.gz
./usr/share/doc/txlauncher/copyright
./usr/share/lintian/overrides/txlauncher
./usr/share/man/man1/txlauncher.1.gz
./usr/share/man/man1/txlib.1.gz
./usr/share/man/man5/txlib-container.5.gz
./usr/share/man/man7/txlauncher-trace.7.gz
EOF
same_lines "the package's files" expected contents

# The release build (native-release) is the one packages are made from: it
# alone is hardened and maps the tree's path away. The debug build, whose
# sanitizers name source files by their full path, is judged on the rest.
release_build=no
grep -q '^CMAKE_BUILD_TYPE:[A-Z]*=Release$' "$TXREL_BUILD/CMakeCache.txt" && release_build=yes

# lintian finds nothing, but the tags that the package's overrides explain.
if command -v lintian >/dev/null 2>&1; then
    lintian --pedantic -I -E "$package" 2>&1 | grep -v '^running with root privileges' >lintian.out
    # Whether the compiler splits the word the spelling override explains
    # changes from build to build, so that override may go unused. The
    # hardening lintian looks for comes with the release build's optimisation
    # (native-release, which scripts/package and scripts/test use): a debug
    # build's package is judged on everything else.
    drop='unused-override spelling-error-in-binary|^N: [0-9]+ hints? overridden'
    [ "$release_build" = yes ] || drop="$drop|hardening-no-(bindnow|fortify-functions)"
    grep -vE "$drop" lintian.out >lintian.kept || true
    mv lintian.kept lintian.out
    [ -s lintian.out ] && fail "lintian: $(cat lintian.out)"
else
    fail "lintian is missing: run scripts/setup"
fi

# Built twice from one commit, the package is the same: its members and
# every entry of their archives are dated from the commit, in order.
epoch=$(cat "$TXREL_BUILD/source-date-epoch")
stamp=$(TZ=UTC date -d "@$epoch" '+%Y-%m-%d %H:%M:%S')
TZ=UTC ar tv "$package" | grep -vF " $(TZ=UTC date -d "@$epoch" '+%b %e %H:%M %Y') " >misdated &&
    fail "members of the package not dated $stamp: $(cat misdated)"
for member in $(ar t "$package"); do
    case $member in
    *.tar.gz) ar p "$package" "$member" | gzip -dc | TZ=UTC tar -tv --full-time | grep -vF " $stamp " ;;
    *.tar.xz) ar p "$package" "$member" | xz -dc | TZ=UTC tar -tv --full-time | grep -vF " $stamp " ;;
    *.tar.*) echo "$member: a compression this check does not read" ;;
    esac
done >misdated
[ -s misdated ] && fail "entries not dated $stamp: $(cat misdated)"
dpkg-deb --fsys-tarfile "$package" | tar -t >order
LC_ALL=C sort order >sorted
same_lines "the order of the package's entries" sorted order

mkdir windows
dpkg -x "$package" root || fail "dpkg -x failed"
bin=$work/root/usr/bin
lib=$work/root/usr/lib/txlauncher

for program in "$bin/txlib" "$lib/launcher"; do
    name=$(basename "$program")
    out=$("$program" --version 2>&1)
    [ "$out" = "$name $TXREL_VERSION" ] || fail "$name --version says \"$out\""
done

for page in man1/txlib.1.gz man5/txlib-container.5.gz man1/txlauncher.1.gz \
    man7/txlauncher-trace.7.gz; do
    name=$(basename "$page" .gz)
    MANPAGER=cat MANWIDTH=80 man --warnings -l "root/usr/share/man/$page" >page.out 2>page.err
    [ -s page.err ] && fail "man -l $name warns: $(cat page.err)"
    title="${name%.*}(${name##*.})"
    head -n 1 page.out | grep -qF "$title" || fail "man -l $name does not show the page $title"
    grep -q '^SEE ALSO' page.out || fail "man -l $name shows no SEE ALSO section"
done

# The programs carry no symbol table and no compiler notes, and, built for
# release, no path of the tree they were built in.
for program in "$bin/txlib" "$lib/launcher" "$lib/trace/TX413EXE.DLL"; do
    sections=$(readelf -SW "$program" | grep -oE '\.(symtab|comment) ' | tr -d '\n')
    [ -z "$sections" ] || fail "$program keeps the sections $sections"
    [ "$release_build" = no ] || ! grep -qF "$TXREL_SOURCE" "$program" ||
        fail "$program holds the build path $TXREL_SOURCE"
done

# The sessions of the launcher's and the trace runtime's pages, run as
# written against the package, show what the pages show (the environment's
# address differs from run to run). The launcher's messages reach a UTF-8
# terminal in UTF-8.
for page in txlauncher.1 txlauncher-trace.7; do
    scd=$TXREL_SOURCE/man/$page.scd
    awk '/^# EXAMPLE/ { section = 1; next }
         section && /^```$/ { if (inside) exit; inside = 1; next }
         inside' "$scd" | sed 's/ENVI,[0-9]*/ENVI,N/' >"$page.expected"
    mkdir "$page.run"
    (cd "$page.run" && LC_ALL=C.UTF-8 TX_WINDIR=$work/windows \
        sh "$TXREL_SOURCE/scripts/demo.d/session" "$scd" "$work/root") >"$page.out" 2>&1 ||
        fail "$page: the session failed"
    sed 's/ENVI,[0-9]*/ENVI,N/' "$page.out" >"$page.actual"
    same_lines "the session of $page" "$page.expected" "$page.actual"
done

# The installed launcher is stripped: its string table and the record of its
# embedded library must have stayed.
txlib=$bin/txlib
"$txlib" -v slots "$lib/launcher" >slots.out 2>&1 || fail "txlib slots: $(cat slots.out)"
check_slots slots.out

demo_library kit "$lib/trace/TX413EXE.DLL"
mkdir -p run
cp "$lib/launcher" base
"$txlib" -q slots base --set flags=O >txlib.out 2>&1 &&
    "$txlib" -q embed base kit/DEMO.LIB -o run/launcher >>txlib.out 2>&1 ||
    fail "txlib could not set up the launcher: $(cat txlib.out)"
printf '%s\n' "$demo_replies" >run/TXREPLY.TXT
# The Windows directory, where WIN.INI could send the modules, is the test's.
(cd run && TX_WINDIR=$work/windows ./launcher >launcher.out 2>&1)
check_demo_run run $? "$lib/trace/TX413EXE.DLL"

finish
