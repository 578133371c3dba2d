#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the Windows test suite under Wine.
#
#   tests/wine/run_suite.sh WINDOWS_BUILD LINUX_BUILD [ctest arguments...]
#
# Everything runs inside network, host-name and mount namespaces of its own
# that hold only loopback (under Wine the host's own name resolves to the
# machine's external address; here it is 127.0.0.1 and nothing else), with a
# fresh Wine prefix in a temporary folder and its own wineserver (Wine's
# server creates the sockets, so it must live in this namespace). The prefix
# follows the build: a 32-bit build (the shipped DLL) runs in a win32 prefix
# through the wine front end, a 64-bit build (cmake/mingw-x86_64.cmake, for
# machines whose kernel runs no 32-bit programs) in a win64 prefix through
# the wine64 loader itself (Debian's front end picks the 32-bit loader
# whenever it is installed, even where it cannot run).
# Beside the tests run the Linux-side peers from LINUX_BUILD: Debian's
# rpcbind, the libtirpc null/echo servers and the libtirpc PCNFSD and
# Qelnfsd daemons, all registered with rpcbind, and the reference daemon on
# a port of its own (QELRPC_REFD_PORT). Everything started here is
# stopped by its PID, and the prefix is removed.
set -euo pipefail
[ -n "${QELRPC_WINE_TRACE:-}" ] && set -x

win=$(realpath "$1")
linux=$(realpath "$2")
shift 2

case $(file -b "$win/qelrpc.dll" 2>/dev/null) in
*x86-64*)
    WINEARCH=win64
    QELRPC_WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
    # Processes that Wine starts itself use the same loader.
    export WINELOADER=$QELRPC_WINE
    ;;
*Intel\ 80386*) WINEARCH=win32 QELRPC_WINE=wine ;;
*)
    echo "$win/qelrpc.dll is not a built Windows DLL: $(file -b "$win/qelrpc.dll" 2>&1)" >&2
    exit 1
    ;;
esac
# wine_exec.sh and tool_smoke.sh run programs through $QELRPC_WINE.
export WINEARCH QELRPC_WINE

if [ -z "${QELRPC_WINE_NS:-}" ]; then
    if ! command -v "$QELRPC_WINE" >/dev/null; then
        echo "$QELRPC_WINE is not installed: the $WINEARCH Windows suite cannot run" >&2
        exit 1
    fi
    if [ "$(id -u)" -ne 0 ] || ! unshare --net --uts --mount --propagation private true 2>/dev/null; then
        echo "the Windows suite needs namespaces of its own (run as root)" >&2
        exit 1
    fi
    QELRPC_WINE_NS=1 exec unshare --net --uts --mount --propagation private "$0" "$win" "$linux" "$@"
fi

ip link set lo up
# Broadcasts to 255.255.255.255 go out on loopback: the only hosts are here.
ip route add 255.255.255.255/32 dev lo
hostname localhost
mount -t tmpfs tmpfs /run # rpcbind's socket and lock files, private

work=$(mktemp -d "${TMPDIR:-/tmp}/qelrpc-wine.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

export WINEPREFIX="$work/prefix" WINEDEBUG=-all
echo "wine prefix: $WINEPREFIX ($WINEARCH, $QELRPC_WINE)"
mkdir -p "$WINEPREFIX"
# A persistent server first: without it every test pays for Wine's start-up.
wineserver -p
if ! "$QELRPC_WINE" wineboot -i >"$work/wineboot.log" 2>&1; then
    echo "wine cannot start ($QELRPC_WINE wineboot -i failed): $(tail -5 "$work/wineboot.log")" >&2
    exit 1
fi
# The set-up's wine commands through the same rerun as the tests' (Wine
# can crash as a process exits; these commands may simply run again).
wine() { "$(dirname "$0")/wine_exec.sh" "$@"; }
# Windows and dialogs without a display; no debugger window on a crash.
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger \
    /d 'cmd /c rem %ld %ld' /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /d 1 /f >/dev/null 2>&1
# The desktop process wineboot started has no display driver yet: restart
# the server so the next programs come up with the null driver.
wineserver -k
wineserver -w
wineserver -p
wine cmd /c exit >/dev/null 2>&1

answers() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# waitReady LOG [SECONDS]: the peer's first line starts with "ready" within
# SECONDS (10 unless given).
waitReady() {
    for _ in $(seq $((${2:-10} * 20))); do
        grep -q '^ready' "$1" 2>/dev/null && return 0
        sleep 0.05
    done
    echo "peer did not start: $(cat "$1")" >&2
    return 1
}

/usr/sbin/rpcbind -f -w &
pids+=($!)
for _ in $(seq 200); do answers 111 && break; sleep 0.05; done
answers 111 || { echo "rpcbind did not start" >&2; exit 1; }

"$linux/tests/peers/qelrpc_peer" register >"$work/peer.log" 2>&1 &
pids+=($!)
waitReady "$work/peer.log"
"$linux/tests/pcnfsd/tirpc_daemons" both >"$work/daemons.log" 2>&1 &
pids+=($!)
waitReady "$work/daemons.log"
# The reference daemon (the library's own server side on Linux), not
# registered: the libtirpc daemons hold the programs at rpcbind.
root=$(cd "$(dirname "$0")/../.." && pwd)
"$linux/tools/qelrpc-refd" --accounts "$root/tools/refd/demo-accounts.txt" --no-register \
    --port-file "$work/refd.port" >"$work/refd.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do [ -s "$work/refd.port" ] && break; sleep 0.05; done
[ -s "$work/refd.port" ] || { echo "the reference daemon did not start: $(cat "$work/refd.log")" >&2; exit 1; }
QELRPC_REFD_PORT=$(cat "$work/refd.port")
export QELRPC_REFD_PORT
# The RPCSEC_GSS peers (tests/gss/gss_peers_main.cpp): a throwaway realm
# with alice's ticket, NFS-Ganesha on the rpcbind above and libtirpc's
# RPCSEC_GSS echo peer. Their variables reach Wine's Kerberos package (it
# reads the realm through the Linux MIT libraries) and test_win_gss. A realm
# that cannot start leaves them unset: those tests then fail under
# QELRPC_REQUIRE_PEERS and are skipped otherwise.
if [ -x "$linux/tests/gss_peers" ]; then
    gss_args=()
    [ -x "$linux/tests/tirpc_gss_peer" ] && gss_args=("$linux/tests/tirpc_gss_peer")
    "$linux/tests/gss_peers" "${gss_args[@]}" >"$work/gss.log" 2>&1 &
    pids+=($!)
    if waitReady "$work/gss.log" 30; then
        while IFS= read -r line; do
            case $line in KRB5_CONFIG=* | KRB5CCNAME=* | QELRPC_GSS_*=*) export "${line?}" ;; esac
        done <"$work/gss.log"
        echo "RPCSEC_GSS peers: realm $KRB5_CONFIG, export $QELRPC_GSS_EXPORT, echo port ${QELRPC_GSS_ECHO_PORT:-none}"
    fi
fi
echo "peers: $(rpcinfo -p 127.0.0.1 | awk 'NR>1{printf "%s/%s/%s ", $1, $3, $4}')"

export QELRPC_LINUX_PEERS=1
QELRPC_RPCINFO=$(command -v rpcinfo)
export QELRPC_RPCINFO
ctest --test-dir "$win" --output-on-failure --timeout 300 "$@"
