#!/bin/sh
# SPDX-License-Identifier: MIT
# The Windows build of the qelrpc tool (qelrpc.exe) under Wine, against the
# Linux-side peers that tests/wine/run_suite.sh starts: port look-ups, null
# calls over both transports, the portmapper's table beside rpcinfo -p's, a
# call to a given port, a version probe, id mapping and authorisation
# through the PCNFSD daemon (once with --trace, the password masked), and a
# refused password with its status, and gss-whoami through the security
# interface. Outside the runner
# it reports itself skipped (77), or fails where the suite must run
# everything (QELRPC_REQUIRE_PEERS, set by ./run test).
#   tool_smoke.sh QELRPC_EXE DLL_FOLDER
set -u
tool=$1
dlls=$2
if [ "${QELRPC_LINUX_PEERS:-}" != 1 ]; then
    echo "needs the Linux-side peers of tests/wine/run_suite.sh"
    case ${QELRPC_REQUIRE_PEERS:-0} in 0 | "") exit 77 ;; *) exit 1 ;; esac
fi
# qelrpc.dll and qeldes.dll lie in the build's root.
WINEPATH="Z:$(printf '%s' "$dlls" | tr / '\\')"
export WINEPATH

failures=0
# check EXPECTED_STATUS PATTERN [INPUT] -- ARGS...
check() {
    expected=$1 pattern=$2 input=$3
    shift 4
    out=$(printf '%s' "$input" | "${QELRPC_WINE:-wine}" "$tool" "$@" 2>&1)
    rc=$?
    if [ "$rc" -eq 139 ]; then
        # Wine itself crashed as the program exited (see wine_exec.sh): once
        # more. Rerun here, not through wine_exec.sh, so the input is piped again.
        echo "wine died of SIGSEGV (status 139) running qelrpc $*; running it once more"
        out=$(printf '%s' "$input" | "${QELRPC_WINE:-wine}" "$tool" "$@" 2>&1)
        rc=$?
    fi
    out=$(printf '%s\n' "$out" | tr -d '\r')
    printf '$ qelrpc %s\n%s\n(exit %s)\n' "$*" "$out" "$rc"
    if [ "$rc" -ne "$expected" ] || ! printf '%s\n' "$out" | grep -q -- "$pattern"; then
        echo "!! expected exit $expected and output matching: $pattern"
        failures=$((failures + 1))
    fi
}

check 0 'tcp port [1-9]' '' -- getport 127.0.0.1 pcnfsd 2
check 0 'over UDP port 111: answered' '' -- ping -u 127.0.0.1 portmapper 2
check 0 'over TCP port 111: answered' '' -- ping -t 127.0.0.1 portmapper 2
check 0 'alice' '' -- uid2name 127.0.0.1 1001
check 0 '"gid":1000' '' -- name2gid 127.0.0.1 staff --json
check 0 'uid 1001' 'wonderland
' -- authorize 127.0.0.1 alice
check 1 'status 5' 'guess
' -- authorize 127.0.0.1 alice
# --trace: the call and reply decoded on standard error, the password by
# its length only: neither it nor its scrambled form (as text or hex) shows.
check 0 'password     10 bytes (masked)' 'wonderland
' -- authorize 127.0.0.1 alice --order c --trace
if printf '%s\n' "$out" | grep -q -F -e wonderland -e ',45?>)7:5?' -e '2c 34 35 3f'; then
    echo "!! the trace shows the password or its scrambled form"
    failures=$((failures + 1))
fi
# ... and the library's own port look-up ahead of the call.
if ! printf '%s\n' "$out" | grep -q -F 'trace: PMAPPROC_GETPORT: TCP to 127.0.0.1 port 111, status 0'; then
    echo "!! the trace does not show the library's own port look-up"
    failures=$((failures + 1))
fi
check 2 'qelrpc getport --help' '' -- getport 127.0.0.1
check 2 'usage: qelrpc COMMAND' '' --

# The table: the same rows as rpcinfo -p (program, version, protocol, port:
# the first 28 columns); the names are the tool's own on Windows.
check 0 '^   program vers proto   port  service$' '' -- dump 127.0.0.1
check 0 ' 788585389    1   tcp  *[0-9]*  qelnfsd$' '' -- dump 127.0.0.1
theirs=$("${QELRPC_RPCINFO:-rpcinfo}" -p 127.0.0.1 | cut -c1-28)
ours=$("${QELRPC_WINE:-wine}" "$tool" dump 127.0.0.1 2>&1 | tr -d '\r' | cut -c1-28)
if [ "$theirs" != "$ours" ]; then
    printf '!! qelrpc dump and rpcinfo -p list different rows:\n%s\n-- rpcinfo -p:\n%s\n' "$ours" "$theirs"
    failures=$((failures + 1))
fi
check 0 '"program":536874753,"program_name":null,"version":3,"protocol":"tcp"' '' -- dump --json 127.0.0.1

# -n: the reference daemon is registered nowhere; only its own port reaches it.
check 0 "version 2 over TCP port ${QELRPC_REFD_PORT:-0}: answered" '' -- \
    ping -n "${QELRPC_REFD_PORT:-0}" -t 127.0.0.1 pcnfsd 2
# No version: the null peer has versions 1 and 3 and no 2.
check 1 'version 2 over UDP port [0-9]*: not available: status -6' '' -- ping -u 127.0.0.1 0x20000F01
check 0 '"low":1,"high":1' '' -- ping -q --json 127.0.0.1 0x20000F02
# rpcbind answers GETPORT of version 3 with version 2's port.
check 1 'version 3: not registered' '' -- getport 127.0.0.1 pcnfsd 3
# gss-whoami through the security interface (no MIT library in the prefix:
# back end 1), with the realm's ticket when the runner started the
# RPCSEC_GSS peers. Wine's Kerberos package answers the name query
# (QueryCredentialsAttributesA, SECPKG_CRED_ATTR_NAMES) with
# SEC_E_UNSUPPORTED_FUNCTION: the tool reports the failed credential query
# (-15), not a missing back end (-1). On Windows itself the same command
# prints the logon user.
if [ -n "${KRB5CCNAME:-}" ]; then
    check 1 'status -15' '' -- gss-whoami
fi
exit $((failures > 0))
