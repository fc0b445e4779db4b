# The command-line frame: help, version, usage errors and the one-line
# message naming the file, with their exit statuses.
. "$(dirname "$0")/common.sh"

txlib --version
expect_status 0 "--version"
expect_match "^txlib [0-9]+\.[0-9]+\.[0-9]+$" "--version"

txlib --help
expect_status 0 "--help"
expect_match "^usage: txlib" "--help"
expect_match "^  extract LIB" "--help"

txlib
expect_status 1 "no command"
expect_error "no command" "no command"

txlib frobnicate x
expect_status 1 "unknown command"
expect_error "unknown command frobnicate" "unknown command"

txlib list
expect_status 1 "list without its library"

txlib list a.lib b.lib
expect_status 1 "list with two libraries"

txlib list a.lib --set 1=x
expect_status 1 "an option the command does not take"
expect_error "list takes no --set" "an option the command does not take"

txlib embed a.exe b.lib
expect_status 1 "embed without -o"

txlib create k.lib --kind 70000
expect_status 1 "a kind out of range"
[ ! -e k.lib ] || fail "a refused create made its file"

txlib list missing.lib
expect_status 2 "a missing library"
expect_error "txlib: missing.lib: cannot open" "a missing library"

txlib -q create quiet.lib
expect_status 0 "create -q"
[ ! -s out ] || fail "create -q printed something"

txlib create loud.lib
expect_status 0 "create"
expect_match "^loud.lib: new library of kind 0, 30 entries$" "create"

finish
