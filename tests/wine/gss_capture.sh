#!/bin/sh
# SPDX-License-Identifier: MIT
# One RPCSEC_GSS privacy exchange of the Windows DLL (through the security
# interface under Wine) captured on the Linux side's loopback and dissected
# by tshark: the set-up, then DATA calls at service 3 whose bodies are
# RFC 4121 wrap tokens (TOK_ID 05 04, Sealed, not SendByAcceptor) and replies
# whose bodies are the server's (SendByAcceptor), nothing malformed. Runs
# inside tests/wine/run_suite.sh's namespaces with its RPCSEC_GSS peers;
# outside it reports itself skipped (77), or fails under QELRPC_REQUIRE_PEERS.
#   gss_capture.sh TEST_WIN_GSS_EXE
set -u
exe=$1
skip() {
    echo "$1"
    case ${QELRPC_REQUIRE_PEERS:-0} in 0 | "") exit 77 ;; *) exit 1 ;; esac
}
[ "${QELRPC_LINUX_PEERS:-}" = 1 ] && [ -n "${QELRPC_GSS_EXPORT:-}" ] ||
    skip "needs the RPCSEC_GSS peers of tests/wine/run_suite.sh"
command -v tshark >/dev/null || skip "tshark is not installed"
work=$(mktemp -d "${TMPDIR:-/tmp}/qelrpc-gss-capture.XXXXXX")
pcap=$work/privacy.pcapng
tshark -i lo -f 'tcp port 2049' -w "$pcap" -q >"$work/tshark.log" 2>&1 &
capture=$!
trap 'kill "$capture" 2>/dev/null; wait "$capture" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do grep -q 'Capturing on' "$work/tshark.log" 2>/dev/null && break; sleep 0.05; done
sleep 0.5
"$(dirname "$0")/wine_exec.sh" "$exe" --gtest_filter=WinGss.NullAndGetattrAtEveryLevelThenDestroy >"$work/run.log" 2>&1 ||
    { cat "$work/run.log"; echo "!! the privacy exchange failed"; exit 1; }
sleep 0.5
kill "$capture"
wait "$capture" 2>/dev/null

# frame | message type | gss_proc | the tokens' TOK_IDs | their Sealed and
# SendByAcceptor flags | malformed marker. A DATA call carries two tokens:
# the header's MIC (04 04) and the body's wrap token (05 04; tshark reads
# TOK_ID little-endian and shows 0x0405).
fields=$(tshark -r "$pcap" -Y 'rpc.authgss.service == 3 && rpc.authgss.procedure == 0' -T fields \
    -E separator='|' -E aggregator=';' -e frame.number -e rpc.msgtyp -e rpc.authgss.procedure \
    -e spnego.krb5.tok_id -e spnego.krb5.sealed -e spnego.krb5.send_by_acceptor -e _ws.malformed 2>/dev/null)
printf '%s\n' "$fields"
calls=$(printf '%s\n' "$fields" | grep -c '^[0-9]*|0|0|0x0404;0x0405|0;1|0;0|$')
replies=$(tshark -r "$pcap" -Y 'rpc.msgtyp == 1 && spnego.krb5.tok_id == 0x0405 && spnego.krb5.send_by_acceptor == 1' \
    -T fields -e frame.number 2>/dev/null | wc -l)
malformed=$(tshark -r "$pcap" -Y '_ws.malformed' -T fields -e frame.number 2>/dev/null | wc -l)
# One privacy GETATTR call and its reply, from the RPC layer down, for the
# record.
first=$(tshark -r "$pcap" -Y 'rpc.authgss.service == 3 && rpc.procedure == 1 && rpc.msgtyp == 0' -T fields \
    -e frame.number 2>/dev/null | head -1)
if [ -n "$first" ]; then
    tshark -r "$pcap" -Y "frame.number == $first || rpc.repframe == $first" -V 2>/dev/null |
        awk '/^Frame /{show=0; print ""; print} /^Remote Procedure Call/{show=1} show'
fi
echo "privacy DATA calls with sealed wrap tokens: $calls; replies with the acceptor's wrap tokens: $replies; malformed: $malformed"
[ "$calls" -ge 5 ] && [ "$replies" -ge 5 ] && [ "$malformed" -eq 0 ]
