/* SPDX-License-Identifier: MIT */
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
    /* Labels: the fixed words, then the AUTH_UNIX body and the verifier. */
    const uint32_t nameLen = ((uint32_t)h[40] << 24) | ((uint32_t)h[41] << 16) | ((uint32_t)h[42] << 8) | h[43];
    const uint32_t tail = 44 + ((nameLen + 3) & ~3u);
    static const char* const fixed[] = {"record mark slot (header length)", "xid", "message type: CALL",
                                        "RPC version", "program", "version", "procedure",
                                        "credential flavor: AUTH_UNIX", "credential length",
                                        "  stamp (creation time)", "  machine name length"};
    static const char* const after[] = {"  uid", "  gid", "  group count", "  group",
                                        "verifier flavor: AUTH_NULL", "verifier length"};
    for (uint32_t off = 0; off < n; off += 4) {
        const uint32_t w = ((uint32_t)h[off] << 24) | ((uint32_t)h[off + 1] << 16) |
                           ((uint32_t)h[off + 2] << 8) | h[off + 3];
        printf("  %3u: %02x %02x %02x %02x  ", off, h[off], h[off + 1], h[off + 2], h[off + 3]);
        if (off < 44) {
            printf("%10u  %s\n", w, fixed[off / 4]);
        } else if (off < tail) {
            char text[5] = {0};
            for (int i = 0; i < 4; i++) text[i] = (h[off + i] >= 32 && h[off + i] < 127) ? (char)h[off + i] : '.';
            printf("%10s  %s\n", text, "  machine name bytes");
        } else if ((off - tail) / 4 < sizeof after / sizeof after[0]) {
            printf("%10u  %s\n", w, after[(off - tail) / 4]);
        }
    }
    rpcCloseOperation(&op);
    return 0;
}
