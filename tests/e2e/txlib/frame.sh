# The command-line frame: help, version, usage errors and the one-line
# message naming the file, with their exit statuses.
. "$(dirname "$0")/common.sh"

txlib --version
expect_status 0 "--version"
expect_match "^txlib [0-9]+\.[0-9]+\.[0-9]+$" "--version"

txlib --help
expect_status 0 "--help"
expect_match "^Usage: txlib" "--help"
expect_match "^  extract " "--help"
expect_match "^Exit status: 0 done, 1 wrong command line, 2 failed" "--help"
# Each command has its own help.
txlib list --help
expect_status 0 "list --help"
expect_match "^Usage: txlib list .*LIB" "list --help"
expect_match "^  --json " "list --help"
txlib extract -h
expect_status 0 "extract -h"
expect_match "^  -k,--keep-old-files " "extract -h"
expect_match "replaced .*unless -k \(or$" "extract -h"

# Refused command lines: status 1, one line saying what is wrong, nothing
# written. Each case: the arguments, then the text the line must hold.
printf 'x' >a.txt
txlib create lib.lib
cp lib.lib lib.before
while IFS='|' read -r args says; do
    # shellcheck disable=SC2086
    txlib $args
    expect_status 1 "txlib $args"
    expect_error "$says" "txlib $args"
done <<'CASES'
|no command
-q|no command
frobnicate x|unknown command frobnicate
list|LIB is required
list lib.lib --set 1=x|not expected: --set
list lib.lib --bogus|not expected: --bogus
list lib.lib --json --json|--json is given twice
-q -q list lib.lib|--quiet is given twice
extract lib.lib -d a -d b|--directory is given twice
extract lib.lib -d|--directory
extract lib.lib -O|-O writes one MEMBER
extract lib.lib -O -k A.TXT|excludes
extract lib.lib -O -d xdir A.TXT|excludes
add lib.lib|PATH is required
add lib.lib a.txt a.txt --as B|--as names one file only
add lib.lib -|standard input (-) needs --as NAME
add lib.lib a.txt --as X --as Y|--as is given twice
embed a.exe b.lib|--output is required
create k.lib --kind 70000|--kind takes a number from 0 to 65535
slots p.exe --set project=a --set 5=b|--set gives slot 5 twice
slots p.exe --set nothing|--set takes SLOT=VALUE
CASES
same_file lib.before lib.lib "refused command lines"
[ ! -e k.lib ] && [ ! -e xdir ] || fail "a refused command line wrote something"

# The forms every option takes: --opt=value, --opt value, grouped short flags.
txlib add lib.lib --as=B.TXT a.txt
expect_status 0 "--as=NAME"
txlib -qv list lib.lib --all
expect_status 0 "-qv: the last one counts"
expect_match "^B\.TXT .* member +B\.TXT$" "-qv lists verbosely"
txlib extract lib.lib --directory=zz B.TXT
expect_status 0 "--directory=DIR"
same_file a.txt zz/B.TXT "--directory=DIR"
txlib list -a lib.lib -q
expect_status 0 "options after the arguments"
if grep -q '^NAME' out; then fail "list -q printed its header"; fi

txlib list missing.lib
expect_status 2 "a missing library"
expect_error "txlib: missing.lib: no such file" "a missing library"
txlib add missing.lib a.txt
expect_status 2 "adding to a missing library"
expect_error "txlib: missing.lib: no such library (txlib create makes one)" "adding to a missing library"

txlib -q create quiet.lib
expect_status 0 "create -q"
[ ! -s out ] || fail "create -q printed something"

txlib create loud.lib
expect_status 0 "create"
expect_match "^loud.lib: new library of kind 0, 30 entries$" "create"

finish
