/* SPDX-License-Identifier: MIT */
/* The kept-connection extension from plain C, through the shared library
 * (the DLL in the Windows build): the flag bit, the switch's statuses, and
 * what it does to sock. The calls themselves are tested in
 * tests/test_net_keep.cpp and tests/test_win_peers.cpp. */
#include <stdio.h>
#include <string.h>

#include "qelrpc.h"

_Static_assert(RPC_OP_FLAG_KEEP_CONNECTION == 0x2u, "the flag bit callers compiled against");
_Static_assert((RPC_OP_FLAG_KEEP_CONNECTION & RPC_OP_FLAG_ASYNC) == 0, "a bit of its own");

static int failures;
#define CHECK(cond)                                                    \
    do {                                                               \
        if (!(cond)) {                                                 \
            fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #cond); \
            failures++;                                                \
        }                                                              \
    } while (0)

int main(void) {
    RpcOperation op;
    int cancel = 0;
    memset(&op, 0, sizeof op);
    CHECK(rpcSetKeepConnection(NULL, 1) == 1208);
    CHECK(rpcSetKeepConnection(NULL, 0) == 1208);
    if (rpcInitOperationEx(&op, NULL, 0x0100007Fu) != 0) return 1;

    /* On: sock is the operation's, empty until a call connects; what the
     * cleared record held there (0) is forgotten, and the async bit stays. */
    rpcSetAsyncOperation(&op, 1, NULL, &cancel);
    CHECK(rpcSetKeepConnection(&op, 1) == 0);
    CHECK(op.flags == (RPC_OP_FLAG_ASYNC | RPC_OP_FLAG_KEEP_CONNECTION));
    CHECK(op.sock == RPC_INVALID_SOCKET);
    /* Off: nothing kept, nothing else touched. */
    CHECK(rpcSetKeepConnection(&op, 0) == 0);
    CHECK(op.flags == RPC_OP_FLAG_ASYNC);
    CHECK(op.sock == RPC_INVALID_SOCKET);

    /* rpcCloseOperation ends keeping; init clears the flags as before. */
    CHECK(rpcSetKeepConnection(&op, 1) == 0);
    rpcCloseOperation(&op);
    CHECK((op.flags & RPC_OP_FLAG_KEEP_CONNECTION) == 0);
    CHECK(op.sock == RPC_INVALID_SOCKET);
    CHECK(rpcInitOperation(&op) == 0);
    CHECK(op.flags == 0);
    rpcCloseOperation(&op);

    printf("%d passed, %d failed\n", failures ? 0 : 1, failures ? 1 : 0);
    return failures ? 1 : 0;
}
