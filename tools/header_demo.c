/* Builds one call with AUTH_UNIX credentials and prints its header bytes. */
#include <stdio.h>
#include <string.h>

#include "qelrpc.h"

int main(void) {
    RpcOperation op;
    if (rpcInitOperationEx(&op, "127.0.0.1", 0xFFFFFFFFu) != 0) {
        fprintf(stderr, "cannot initialise the operation\n");
        return 1;
    }
    op.prog = 100003; /* NFS */
    op.vers = 3;
    if (!rpcCreateAuthUnix(&op, "demo-host", 1000, 100)) {
        fprintf(stderr, "cannot attach AUTH_UNIX credentials\n");
        rpcCloseOperation(&op);
        return 1;
    }
    int rc = rpcPrepareRPCHeader(&op, 0 /* NULL procedure */);
    if (rc != 0) {
        fprintf(stderr, "header preparation failed: %d\n", rc);
        rpcCloseOperation(&op);
        return 1;
    }
    const uint8_t* h = op.request.block.pos;
    const uint32_t n = op.request.header.count;
    printf("RPC call header, AUTH_UNIX (machine demo-host, uid 1000, gid 100): %u bytes\n", n);
    static const char* const names[] = {"record mark slot", "xid", "message type (CALL)", "RPC version",
                                        "program", "version", "procedure", "credential flavor",
                                        "credential length"};
    for (uint32_t off = 0; off < n; off += 4) {
        const uint32_t w = ((uint32_t)h[off] << 24) | ((uint32_t)h[off + 1] << 16) |
                           ((uint32_t)h[off + 2] << 8) | h[off + 3];
        printf("  %3u: %02x %02x %02x %02x  %10u", off, h[off], h[off + 1], h[off + 2], h[off + 3], w);
        if (off / 4 < sizeof names / sizeof names[0]) printf("  %s", names[off / 4]);
        printf("\n");
    }
    rpcCloseOperation(&op);
    return 0;
}
