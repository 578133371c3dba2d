#!/bin/sh
# SPDX-License-Identifier: MIT
# The man pages against the programs' own --help: qelrpc(1) lists exactly
# the commands of `qelrpc --help`, and under each command exactly the long
# options of `qelrpc COMMAND --help`; qelrpc-refd(8) lists exactly the
# options of `qelrpc-refd --help`. Both name the library's version, and both
# render without a warning.
#   check_man_pages.sh QELRPC QELRPC_REFD MAN_DIR VERSION
set -eu
qelrpc=$1 refd=$2 mandir=$3 version=$4
page1=$mandir/qelrpc.1
page8=$mandir/qelrpc-refd.8
failed=0
fail() {
    echo "FAILED: $*" >&2
    failed=1
}

# The long options a text names (roff's \- read as -), sorted, one a line.
long_options() {
    sed 's/\\-/-/g' | grep -o -- '--[a-z][a-z-]*' | sort -u
}

# The body of one .SS subsection of qelrpc.1.
man_section() {
    awk -v name="$1" '
        /^\.S[HS] / { inside = ($1 == ".SS" && $2 == name); next }
        inside { print }' "$page1"
}

same() { # WHAT EXPECTED ACTUAL
    [ "$2" = "$3" ] && return 0
    fail "$1 differ (--help, then the man page):
$(printf '%s\n' "$2" | sed 's/^/    /')
  --
$(printf '%s\n' "$3" | sed 's/^/    /')"
}

general=$("$qelrpc" --help)
help_commands=$(printf '%s\n' "$general" |
    awk '/^commands:/ { on = 1; next } on && /^$/ { exit } on { print $1 }' | sort)
man_commands=$(awk '/^\.SH / { on = ($2 == "COMMANDS"); next } on && /^\.SS / { print $2 }' "$page1" | sort)
[ -n "$help_commands" ] || fail "qelrpc --help lists no commands"
same "the commands" "$help_commands" "$man_commands"

for cmd in $help_commands; do
    help_opts=$("$qelrpc" "$cmd" --help | awk '/^options:/ { on = 1; next } on' | long_options)
    man_opts=$(man_section "$cmd" | long_options)
    same "the options of '$cmd'" "$help_opts" "$man_opts"
done
# The top-level options: --help and --version in both.
for opt in --help --version; do
    printf '%s\n' "$general" | grep -q -- "$opt" || fail "qelrpc --help does not mention $opt"
    awk '/^\.SH / { on = ($2 == "OPTIONS"); next } on' "$page1" | long_options | grep -qx -- "$opt" ||
        fail "qelrpc.1's OPTIONS lack $opt"
done

refd_help=$("$refd" --help 2>&1) || fail "qelrpc-refd --help exits non-zero"
refd_opts=$(printf '%s\n' "$refd_help" | long_options)
man_refd_opts=$(awk '/^\.SH / { on = ($2 == "OPTIONS"); next } on' "$page8" | long_options)
same "qelrpc-refd's options" "$refd_opts" "$man_refd_opts"

for page in "$page1" "$page8"; do
    grep -q "^\.TH .*\"qelrpc $version\"" "$page" || fail "$page does not name version $version in .TH"
    # groff's warnings (-ww) for what man(1) would render wrongly.
    if command -v groff >/dev/null 2>&1; then
        warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1) || fail "groff cannot render $page"
        [ -z "$warnings" ] || fail "$page: $warnings"
    else
        fail "groff is not installed (groff-base): the pages cannot be rendered"
    fi
done
[ "$failed" -eq 0 ] || exit 1
echo "check_man_pages: $(echo "$help_commands" | wc -l) commands and qelrpc-refd's options agree with --help"
