#!/bin/sh
# SPDX-License-Identifier: MIT
# Word arrays move in one pass even when a program that is not
# position-independent hands the library its own entries for the one-word
# routines. Under the dynamic linker's binding trace with LD_BIND_NOT (every
# call through a program's entry is resolved, and traced, again), the
# program's entries for xdr_int and its kin must never be called when it
# passes the library's routines; as a control, its own element routine calls
# xdr_int through its entry once per element.
#   check_one_pass.sh PATH-TO-c_callers_nopie
set -u
prog=$1
name=$(basename "$prog")
trace() {
    LD_BIND_NOT=1 LD_DEBUG=bindings "$prog" one-pass "$1" 2>&1 >/dev/null || {
        echo "check_one_pass: $name one-pass $1 failed" >&2
        exit 1
    }
}
# A call through the program's entry is traced as: binding file
# ./c_callers_nopie [0] to .../libqelrpc.so.0 [0]: normal symbol `xdr_int'.
# (The program's own symbols bound to itself at load are not calls.)
from_program() {
    grep -E "binding file [^ ]*$name \[0\] to [^ ]*libqelrpc[^ ]* \[0\]: .*symbol \`$1'" | wc -l
}
library=$(trace library)
own=$(trace own)
arrays=$(printf '%s\n' "$library" | from_program xdr_array)
words=$(printf '%s\n' "$library" | from_program 'xdr_(int|u_int|bool|uint32_t|u_long)')
control=$(printf '%s\n' "$own" | from_program xdr_int)
echo "library's routines: $arrays xdr_array calls traced, $words element calls through the program's entries"
echo "the caller's own routine: $control xdr_int calls through the program's entry"
# 5 routines x (encode, decode, free) calls of xdr_array; 5 x 2 x 7 elements.
[ "$arrays" -ge 15 ] || { echo "check_one_pass: the trace shows no xdr_array calls" >&2; exit 1; }
[ "$control" -ge 70 ] || { echo "check_one_pass: the trace misses the control's calls" >&2; exit 1; }
[ "$words" -eq 0 ] || { echo "check_one_pass: the library called the caller's entries per element" >&2; exit 1; }
echo "one pass"
