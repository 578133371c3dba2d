#!/bin/sh
# SPDX-License-Identifier: MIT
# Checks that a Windows DLL (32- or 64-bit) imports only what a bare Windows
# system has, plus the DLLs named after it (our own siblings): no C++ or GCC
# runtime DLLs, no threading or libgcrypt DLLs.
#   check_imports.sh DLL [ALLOWED_DLL...]
set -eu
dll=$1
shift
allowed="ADVAPI32.DLL KERNEL32.DLL MSVCRT.DLL USER32.DLL WSOCK32.DLL WS2_32.DLL"
for extra in "$@"; do allowed="$allowed $(echo "$extra" | tr '[:lower:]' '[:upper:]')"; done
objdump=i686-w64-mingw32-objdump
case $(file -b "$dll") in *x86-64*) objdump=x86_64-w64-mingw32-objdump ;; esac
imports=$("$objdump" -p "$dll" | awk '/DLL Name:/{print toupper($3)}')
[ -n "$imports" ] || { echo "no import table read from $dll" >&2; exit 1; }
status=0
for i in $imports; do
    case " $allowed " in
        *" $i "*) ;;
        *) echo "$(basename "$dll") imports $i, which is not allowed" >&2; status=1 ;;
    esac
done
echo "$(basename "$dll") imports:" $imports
exit $status
