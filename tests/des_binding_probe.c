/* SPDX-License-Identifier: MIT */
/* A plain C caller of the shared library, linked the way programs usually
 * are: the library first, the C library after it, so the C library comes
 * before the library's own dependencies (libqeldes) in the global lookup
 * order. It prints the loaded objects in that order, one a line, then runs
 * an AUTH_DES credential through the key arithmetic and the ciphers, so
 * every DES routine the library imports is called and bound. Run with
 * LD_DEBUG=bindings to see where each of them went. */
#define _GNU_SOURCE
#include <link.h>
#include <stdio.h>
#include <string.h>

#include "qelrpc.h"

static int printObject(struct dl_phdr_info* info, size_t size, void* data) {
    (void)size;
    (void)data;
    printf("object %s\n", info->dlpi_name[0] != '\0' ? info->dlpi_name : "(program)");
    return 0;
}

int main(void) {
    RpcOperation op;
    int rc;
    dl_iterate_phdr(printObject, NULL);
    memset(&op, 0, sizeof op);
    if (rpcInitOperationEx(&op, NULL, 0x0100007Fu) != 0) return 2;
    op.prog = 0x20000F01;
    op.vers = 1;
    op.timeOffset = 0; /* learned: no time service is asked */
    /* dh, hex2bin and des_setparity, */
    if (rpcCreateAuthDES(&op, "unix.1001@example.co", "9514d2307ea3035cd2d8de0e7915acbd4571484cd972a8f7",
                         "3a5f0c21b9e8d7c6a5b4c3d2e1f00112233445566778899a") != 1)
        return 3;
    /* then ecb_crypt and cbc_crypt for the full-name credential. */
    rc = rpcPrepareRPCHeader(&op, 0);
    printf("header %d\n", rc);
    rpcCloseOperation(&op);
    return rc == 0 ? 0 : 4;
}
