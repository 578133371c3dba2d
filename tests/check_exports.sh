#!/bin/sh
# SPDX-License-Identifier: MIT
# Compares the names a built library exports with the export list.
#   check_exports.sh so|dll LIBRARY LIST
set -eu
kind=$1 lib=$2 list=$3
want=$(mktemp) got=$(mktemp)
trap 'rm -f "$want" "$got"' EXIT
grep -v '^[[:space:]]*#' "$list" | sed 's/[[:space:]]//g' | grep -v '^$' | sort -u >"$want"
case $kind in
so)
    # Defined dynamic symbols of the library, without the version nodes.
    nm -D --defined-only "$lib" | awk '$2 != "A" {print $NF}' | sed 's/@.*//' | sort -u >"$got"
    ;;
dll)
    # The export table's name list: lines under "[Ordinal/Name Pointer] Table"
    # (read with the binutils of the DLL's own architecture).
    objdump=i686-w64-mingw32-objdump
    case $(file -b "$lib") in *x86-64*) objdump=x86_64-w64-mingw32-objdump ;; esac
    "$objdump" -p "$lib" |
        awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^[[:space:]]*$/{t=0} t{print $NF}' |
        sort -u >"$got"
    ;;
*) echo "unknown kind $kind" >&2; exit 2 ;;
esac
if ! diff -u "$want" "$got"; then
    echo "exported names differ from the list (- expected, + exported)" >&2
    exit 1
fi
echo "exports match: $(wc -l <"$got") names"
