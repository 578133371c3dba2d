/* SPDX-License-Identifier: MIT */
/* The exported header as a C caller sees it: the records keep the layout
 * callers compiled against, on 32-bit Windows and on 64-bit Linux and
 * Windows (LLP64 changes nothing: the header has no long, and a socket is
 * pointer-wide), and the library links and answers from plain C. */
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "qelrpc.h"

#define AT(type, field, off) _Static_assert(offsetof(type, field) == (off), #type "." #field)

#if UINTPTR_MAX == 0xFFFFFFFFu
#define P32 1
#else
#define P32 0
#endif
/* offset on a 32-bit target : on a 64-bit target */
#define O(a, b) (P32 ? (a) : (b))

AT(MbufCursor, count, 0);
AT(MbufCursor, limit, 4);
AT(MbufCursor, pos, 8);
_Static_assert(sizeof(MbufCursor) == O(12, 16), "MbufCursor size");

AT(Mbuf, block, 0);
AT(Mbuf, header, O(12, 16));
AT(Mbuf, data, O(24, 32));
_Static_assert(sizeof(Mbuf) == O(36, 48), "Mbuf size");

AT(RpcAuth, flavor, 0);
AT(RpcAuth, credLength, 4);
AT(RpcAuth, body, 8);
AT(RpcAuth, verfFlavor, O(12, 16));
AT(RpcAuth, verfLength, O(16, 20));
_Static_assert(sizeof(RpcAuth) == O(20, 24), "RpcAuth size");

AT(AuthUnixCred, stamp, 0);
AT(AuthUnixCred, machineName, 4);
AT(AuthUnixCred, uid, 520);
AT(AuthUnixCred, gid, 524);
AT(AuthUnixCred, gidCount, 528);
AT(AuthUnixCred, gids, 532);
_Static_assert(sizeof(AuthUnixCred) == 536, "AuthUnixCred size");

AT(AuthDesCred, netName, 0);
AT(AuthDesCred, convKey, 256);
AT(AuthDesCred, encConvKey, 264);
AT(AuthDesCred, nameKind, 272);
AT(AuthDesCred, nickname, 276);
AT(AuthDesCred, lastSeconds, 280);
AT(AuthDesCred, lastUseconds, 284);
AT(AuthDesCred, commonKey, 288);
_Static_assert(sizeof(AuthDesCred) == 296, "AuthDesCred size");

/* The exchange observer's view (an extension). */
AT(RpcExchangeView, op, 0);
AT(RpcExchangeView, transport, O(4, 8));
AT(RpcExchangeView, status, O(8, 12));
AT(RpcExchangeView, hostAddr, O(12, 16));
AT(RpcExchangeView, port, O(16, 20));
AT(RpcExchangeView, recordMark, O(20, 24));
AT(RpcExchangeView, callLength, O(24, 28));
AT(RpcExchangeView, call, O(28, 32));
AT(RpcExchangeView, replyLength, O(32, 40));
AT(RpcExchangeView, reply, O(36, 48));
_Static_assert(sizeof(RpcExchangeView) == O(40, 56), "RpcExchangeView size");

AT(RpcSockAddrIn, family, 0);
AT(RpcSockAddrIn, port, 2);
AT(RpcSockAddrIn, addr, 4);
AT(RpcSockAddrIn, zero, 8);
_Static_assert(sizeof(RpcSockAddrIn) == 16, "RpcSockAddrIn size");

AT(RpcOperation, prog, 0);
AT(RpcOperation, vers, 4);
AT(RpcOperation, proc, 8);
AT(RpcOperation, protocol, 12);
AT(RpcOperation, tcpPort, 14);
AT(RpcOperation, udpPort, 16);
AT(RpcOperation, hostName, O(20, 24));
AT(RpcOperation, hostAddr, O(24, 32));
AT(RpcOperation, request, O(28, 40));
AT(RpcOperation, reply, O(64, 88));
AT(RpcOperation, auth, O(100, 136));
AT(RpcOperation, asyncWindow, O(104, 144));
AT(RpcOperation, cancelFlag, O(108, 152));
AT(RpcOperation, flags, O(112, 160));
AT(RpcOperation, rejectStat, O(116, 164));
AT(RpcOperation, authStat, O(120, 168));
AT(RpcOperation, acceptStat, O(124, 172));
AT(RpcOperation, sock, O(128, 176));
AT(RpcOperation, localAddr, O(132, 184));
AT(RpcOperation, userData, O(148, 200));
AT(RpcOperation, timeOffset, O(152, 204));
_Static_assert(sizeof(RpcOperation) == O(156, 208), "RpcOperation size");

AT(AuthGssCred, majorStatus, 0);
AT(AuthGssCred, minorStatus, 4);
AT(AuthGssCred, principal, 8);
AT(AuthGssCred, gssProc, O(12, 16));
AT(AuthGssCred, seqNum, O(16, 20));
AT(AuthGssCred, service, O(20, 24));
AT(AuthGssCred, context, O(24, 32));
AT(AuthGssCred, handleLength, O(28, 40));
AT(AuthGssCred, handle, O(32, 48));
AT(AuthGssCred, provider, O(36, 56));
_Static_assert(sizeof(AuthGssCred) == O(40, 64), "AuthGssCred size");

/* The version's string says what its numbers say (the build reads the numbers). */
#define STR_(x) #x
#define STR(x) STR_(x)
static const char kComposedVersion[] =
    STR(QELRPC_VERSION_MAJOR) "." STR(QELRPC_VERSION_MINOR) "." STR(QELRPC_VERSION_PATCH);
_Static_assert(QELRPC_VERSION_NUMBER >= 0x000100, "QELRPC_VERSION_NUMBER composes the three numbers");

int main(void) {
    RpcOperation op;
    int failures = 0;
    if (strcmp(QELRPC_VERSION_STRING, kComposedVersion) != 0) failures++;
    if (rpcInitOperationEx(&op, NULL, 0xFFFFFFFFu) != 0) return 1;
    op.prog = 100000;
    op.vers = 2;
    if (rpcCreateAuthNull(&op) != 1) failures++;
    if (rpcPrepareRPCHeader(&op, 3) != 0) failures++;
    if (op.request.header.count != 44) failures++;
    InitDataBuffer(&op.request);
    if (mbufAddLong(&op.request.data, 7) != 0) failures++;
    if (op.request.data.pos != op.request.block.pos + 48) failures++;
    rpcCloseOperation(&op);
    if (op.auth != NULL || op.request.block.pos != NULL) failures++;
    printf("%d passed, %d failed\n", failures ? 0 : 1, failures ? 1 : 0);
    return failures ? 1 : 0;
}
