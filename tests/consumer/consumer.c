/* SPDX-License-Identifier: MIT */
/* A program from outside the project, built only against an installed
 * qelrpc (find_package or pkg-config): it builds an AUTH_UNIX call header,
 * appends XDR arguments and decodes them again, without any network.
 * With --directory it also asks which name service answers; run with
 * QELNIS_TYPE=1 that must be the installed directory-service library.
 * Prints one line per check and exits 0 only when all of them hold. */
#include <qelrpc.h>

#include <stdio.h>
#include <string.h>

static int failures = 0;

static void check(int ok, const char* what) {
    printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    if (!ok) failures++;
}

static uint32_t word(const uint8_t* p) {
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}

int main(int argc, char** argv) {
    RpcOperation op;
    if (rpcInitOperationEx(&op, "localhost", 0x0100007Fu) != 0) {
        fprintf(stderr, "consumer: rpcInitOperationEx failed\n");
        return 1;
    }
    op.prog = 100003;
    op.vers = 3;
    check(rpcCreateAuthUnix(&op, "consumer", 1000, 100) == 1, "AUTH_UNIX credential attached");
    check(rpcPrepareRPCHeader(&op, 0) == 0, "call header prepared");

    /* Record-mark slot, xid, CALL, RPC version, program, version, procedure,
     * flavor, length (36 bytes); stamp, name length, "consumer", uid, gid,
     * one group (32); the AUTH_NULL verifier (8). */
    const uint8_t* h = op.request.block.pos;
    const uint32_t n = op.request.header.count;
    printf("call header: %u bytes\n", n);
    check(n == 76, "AUTH_UNIX call header is 76 bytes");
    if (n == 76) {
        check(word(h + 4) != 0 && word(h + 8) == 0 && word(h + 12) == 2, "xid, CALL, RPC version 2");
        check(word(h + 16) == 100003 && word(h + 20) == 3 && word(h + 24) == 0, "program 100003, version 3, NULL");
        check(word(h + 28) == RPC_AUTH_UNIX && word(h + 32) == 32, "AUTH_UNIX credential of 32 bytes");
        check(word(h + 40) == 8 && memcmp(h + 44, "consumer", 8) == 0, "machine name");
        check(word(h + 52) == 1000 && word(h + 56) == 100 && word(h + 60) == 1 && word(h + 64) == 100,
              "uid 1000, gid 100, one group");
        check(word(h + 68) == RPC_AUTH_NULL && word(h + 72) == 0, "AUTH_NULL verifier");
    }

    /* Arguments behind the header: an unsigned int and a string. */
    InitDataBuffer(&op.request);
    uint8_t* args = op.request.data.pos;
    uint32_t number = 0xC0FFEEu;
    char text[] = "qelrpc";
    char* textPtr = text;
    check(xdr_u_int(&op.request.data, XDR_OP_ENCODE, &number) == 1 &&
              xdr_string(&op.request.data, XDR_OP_ENCODE, &textPtr, 255) == 1,
          "XDR encode");
    check(op.request.data.count == 16 && word(args) == 0xC0FFEEu && word(args + 4) == 6 &&
              memcmp(args + 8, "qelrpc\0\0", 8) == 0,
          "XDR bytes: 00c0ffee, length 6, \"qelrpc\" and two zero bytes");

    MbufCursor in = {op.request.data.count, op.request.data.count, args};
    uint32_t numberBack = 0;
    char* textBack = NULL;
    check(xdr_u_int(&in, XDR_OP_DECODE, &numberBack) == 1 && numberBack == number &&
              xdr_string(&in, XDR_OP_DECODE, &textBack, 255) == 1 && textBack != NULL &&
              strcmp(textBack, "qelrpc") == 0 && in.count == 0,
          "XDR decode gives the same values back");
    xdr_string(NULL, XDR_OP_FREE, &textBack, 255);
    rpcCloseOperation(&op);

    if (argc > 1 && strcmp(argv[1], "--directory") == 0) {
        RpcOperation ns;
        NameServiceKind kind = 0;
        memset(&ns, 0, sizeof ns);
        int rc = PerformNfsdCheck(&ns, 0, 0, &kind);
        printf("name service check: %d, kind %d\n", rc, (int)kind);
        check(rc == 0 && kind == NameServiceDirectory, "the directory-service library answers");
        int32_t uid = -1;
        rc = PerformGetUidsFromUNames(&ns, 0, 0, 1, "root", &uid);
        printf("uid of root through the directory service: %d (status %d)\n", (int)uid, rc);
        check(rc == 0 && uid == 0, "the directory-service library maps root to uid 0");
        rpcCloseOperation(&ns);
    }

    printf("%s\n", failures == 0 ? "consumer: all checks passed" : "consumer: checks failed");
    return failures == 0 ? 0 : 1;
}
