/* SPDX-License-Identifier: MIT */
/*
 * A program as a Microsoft toolchain builds one against the Windows kit:
 * compiled by clang-cl for the *-pc-windows-msvc target with the kit's
 * qelrpc.h and linked by lld-link with qelrpc.lib only. There is no Windows
 * SDK or C runtime here, so it has no CRT: its entry point is `start`, it
 * calls nothing but the library, and its exit status is its result
 * (0 when every step holds, else the number of the first step that failed).
 *
 * check_msvc_import_library.sh compiles it together with a generated file
 * that takes the address of every exported function through the header
 * (qelrpc_take_every_export), so the program imports the whole export list
 * and its import table can be compared with it.
 */
#include "qelrpc.h"

void qelrpc_take_every_export(const void* volatile* slot);

static int same_bytes(const uint8_t* a, const uint8_t* b, uint32_t n) {
    uint32_t i;
    for (i = 0; i < n; ++i) {
        if (a[i] != b[i]) return 0;
    }
    return 1;
}

static MbufCursor cursor(uint8_t* bytes, uint32_t count, uint32_t limit) {
    MbufCursor c;
    c.count = count;
    c.limit = limit;
    c.pos = bytes;
    return c;
}

int start(void) {
    static const uint8_t encoded_int[4] = {0x81, 0x02, 0x03, 0x04};
    /* xdr_array of two words through xdr_int: the count, then each word. */
    static const uint8_t encoded_array[12] = {0, 0, 0, 2, 0, 0, 0, 7, 0xff, 0xff, 0xff, 0xfe};
    uint8_t area[32];
    uint32_t i;
    MbufCursor out;
    MbufCursor in;
    int32_t value = (int32_t)0x81020304u;
    uint32_t read = 0;
    int32_t pair[2];
    void* elements = pair;
    uint32_t count = 2;
    char text[8];
    uint8_t* block;
    const void* volatile slot = 0;

    qelrpc_take_every_export(&slot);
    if (slot == 0) return 1;

    for (i = 0; i < sizeof area; ++i) area[i] = 0xAA;
    out = cursor(area, 0, sizeof area);
    if (xdr_int(&out, XDR_OP_ENCODE, &value) != 1) return 2;
    if (out.count != 4 || !same_bytes(area, encoded_int, 4)) return 3;
    in = cursor(area, 4, 0);
    if (xdr_u_int(&in, XDR_OP_DECODE, &read) != 1 || read != 0x81020304u || in.count != 0) return 4;

    /* A library function handed back to the library as an element routine:
     * the address the import gives must be the function itself. */
    pair[0] = 7;
    pair[1] = -2;
    out = cursor(area, 0, sizeof area);
    if (xdr_array(&out, XDR_OP_ENCODE, &elements, &count, 2, sizeof pair[0], (XdrProc)xdr_int) != 1) return 5;
    if (out.count != 12 || !same_bytes(area, encoded_array, 12)) return 6;

    out = cursor(area, 0, sizeof area);
    if (mbufAddString(&out, "kit") != 0 || out.count != 8) return 7;
    in = cursor(area, 8, 0);
    if (mbufGetString(&in, text, sizeof text) != 0) return 8;
    if (text[0] != 'k' || text[1] != 'i' || text[2] != 't' || text[3] != '\0') return 9;

    /* The library's heap across the boundary: zero-filled and released. */
    block = (uint8_t*)xdrutil_malloc(16);
    if (block == 0) return 10;
    for (i = 0; i < 16; ++i) {
        if (block[i] != 0) return 11;
    }
    xdrutil_free(block);
    return 0;
}
