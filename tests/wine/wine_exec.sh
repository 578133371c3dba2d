#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs one Windows test program under Wine (the cross-build's emulator).
#
# Wine 8's process exit has a race of its own: now and then, while a
# process that has finished its work terminates, the Linux-side wine process
# dies of SIGSEGV inside Wine's ntdll (NtTerminateProcess, another thread
# taking the termination signal), seen on loaded machines about once in a
# hundred runs of a test program that does nothing but pass. A fault of the
# Windows program itself never looks like that: it is an exception, which
# ends the process with its exception code. So a death by SIGSEGV (status
# 139) is run once more, and said so; any other status stands.
# QELRPC_WINE names the loader (the 64-bit build's is wine64); default wine.
wine=${QELRPC_WINE:-wine}
"$wine" "$@"
status=$?
if [ "$status" -eq 139 ]; then
    echo "wine_exec.sh: wine itself died of SIGSEGV (status 139) running $1; running it once more" >&2
    "$wine" "$@"
    status=$?
fi
exit "$status"
