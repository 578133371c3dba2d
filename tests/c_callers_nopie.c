/* SPDX-License-Identifier: MIT */
/* The library from a C program that is not position-independent (built
 * -fno-pic -no-pie, as much older and embedded C code is), linked to the
 * shared library.
 *
 * Such a program takes the address of a library function through an entry
 * of its own (the function's canonical address in the process), so the
 * xdr_string and xdr_int it hands to xdr_reference, xdr_pointer and
 * xdr_array are not the addresses the library's own code uses for them.
 * The library must recognise them all the same: a string reference taken
 * for a plain object reads the caller's text as a pointer, and an array of
 * words must still move in one pass.
 *
 * Built for Windows as c_callers_thunks with QELRPC_STATIC, the program
 * declares the functions without dllimport and passes the addresses of its
 * own import thunks, which must stand for the DLL's routines the same way.
 *
 *   c_callers_nopie            the XDR checks; exit status 0 when all pass
 *   c_callers_nopie nfsdcheck  one name-service check that opens no
 *                              connection (the directory-service library is
 *                              loaded); prints its status
 *   c_callers_nopie load       only loads the library
 *   c_callers_nopie one-pass library|own
 *                              word arrays with the library's routines or
 *                              the caller's own (see one_pass)
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "qelrpc.h"

static int failures = 0;

#define CHECK(cond)                                                   \
    do {                                                              \
        if (!(cond)) {                                                \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                               \
        }                                                             \
    } while (0)

/* The routines as the element and object routines they stand for. */
#define AS_PROC(f) ((XdrProc)(void (*)(void))(f))

static uint8_t wire[65536];

static MbufCursor writer(void) {
    MbufCursor c;
    memset(wire, 0xEE, sizeof wire);
    c.count = 0;
    c.limit = sizeof wire;
    c.pos = wire;
    return c;
}

static MbufCursor reader(uint32_t n) {
    MbufCursor c;
    c.count = n;
    c.limit = n;
    c.pos = wire;
    return c;
}

static uint32_t word_at(uint32_t offset) {
    return (uint32_t)wire[offset] << 24 | (uint32_t)wire[offset + 1] << 16 | (uint32_t)wire[offset + 2] << 8 |
           wire[offset + 3];
}

/* xdr_reference and xdr_pointer with xdr_string: the object is a string of
 * any length. */
static void string_references(void) {
    static char long_text[3001];
    const char* texts[] = {"", "hello, world", long_text};
    size_t i;
    memset(long_text, 'q', sizeof long_text - 1);
    for (i = 0; i < sizeof texts / sizeof texts[0]; ++i) {
        const uint32_t len = (uint32_t)strlen(texts[i]);
        const uint32_t padded = (len + 3u) & ~3u;
        char* text = (char*)texts[i];
        char* back = NULL;
        MbufCursor w = writer();
        MbufCursor r;

        CHECK(xdr_reference(&w, XDR_OP_ENCODE, (void**)&text, 0, AS_PROC(xdr_string)) == 1);
        CHECK(w.count == 4 + padded);
        CHECK(word_at(0) == len);
        CHECK(memcmp(wire + 4, texts[i], len) == 0);

        r = reader(w.count);
        CHECK(xdr_reference(&r, XDR_OP_DECODE, (void**)&back, 0, AS_PROC(xdr_string)) == 1);
        CHECK(back != NULL && strcmp(back, texts[i]) == 0);
        CHECK(r.count == 0);
        CHECK(xdr_reference(NULL, XDR_OP_FREE, (void**)&back, 0, AS_PROC(xdr_string)) == 1);
        CHECK(back == NULL);
    }

    /* Optional strings: present, then absent. */
    {
        char* present = "optional";
        char* absent = NULL;
        char* back1 = NULL;
        char* back2 = (char*)"stale";
        MbufCursor w = writer();
        MbufCursor r;
        CHECK(xdr_pointer(&w, XDR_OP_ENCODE, (void**)&present, 0, AS_PROC(xdr_string)) == 1);
        CHECK(xdr_pointer(&w, XDR_OP_ENCODE, (void**)&absent, 0, AS_PROC(xdr_string)) == 1);
        CHECK(w.count == 4 + 4 + 8 + 4);
        CHECK(word_at(0) == 1 && word_at(4) == 8 && memcmp(wire + 8, "optional", 8) == 0 && word_at(16) == 0);

        r = reader(w.count);
        CHECK(xdr_pointer(&r, XDR_OP_DECODE, (void**)&back1, 0, AS_PROC(xdr_string)) == 1);
        CHECK(xdr_pointer(&r, XDR_OP_DECODE, (void**)&back2, 0, AS_PROC(xdr_string)) == 1);
        CHECK(back1 != NULL && strcmp(back1, "optional") == 0);
        CHECK(back2 == NULL);
        CHECK(xdr_pointer(NULL, XDR_OP_FREE, (void**)&back1, 0, AS_PROC(xdr_string)) == 1);
        CHECK(back1 == NULL);
    }
}

/* The caller's own routine for a word: never one of the library's. */
static int own_int(MbufCursor* s, XdrOp op, int32_t* v) { return xdr_int(s, op, v); }

/* Arrays of the library's one-word routines: right both ways. That they
 * move in one pass is checked by check_one_pass.sh with the one-pass mode
 * below. */
static void word_arrays(void) {
    static int32_t values[7];
    const struct {
        const char* name;
        XdrProc proc;
    } routines[] = {
        {"xdr_int", AS_PROC(xdr_int)},         {"xdr_u_int", AS_PROC(xdr_u_int)},
        {"xdr_bool", AS_PROC(xdr_bool)},       {"xdr_uint32_t", AS_PROC(xdr_uint32_t)},
        {"xdr_u_long", AS_PROC(xdr_u_long)},
    };
    size_t k;
    uint32_t i;
    for (i = 0; i < 7; ++i) values[i] = (int32_t)(i * 2654435761u);

    for (k = 0; k < sizeof routines / sizeof routines[0]; ++k) {
        uint32_t n = 7, back_n = 0;
        void* elements = values;
        void* back = NULL;
        MbufCursor w = writer();
        MbufCursor r;
        CHECK(xdr_array(&w, XDR_OP_ENCODE, &elements, &n, 7, 4, routines[k].proc) == 1);
        CHECK(w.count == 4 + 7 * 4);
        CHECK(word_at(0) == 7);
        for (i = 0; i < 7; ++i) CHECK(word_at(4 + 4 * i) == (uint32_t)values[i]);

        r = reader(w.count);
        CHECK(xdr_array(&r, XDR_OP_DECODE, &back, &back_n, 7, 4, routines[k].proc) == 1);
        CHECK(back_n == 7 && back != NULL && memcmp(back, values, 7 * 4) == 0);
        CHECK(xdr_array(NULL, XDR_OP_FREE, &back, &back_n, 7, 4, routines[k].proc) == 1);
        CHECK(back == NULL);
        if (failures != 0) fprintf(stderr, "  (with %s)\n", routines[k].name);
    }

}

static int nfsd_check(void) {
    RpcOperation op;
    NameServiceKind kind = 0;
    int status;
    memset(&op, 0, sizeof op);
    /* No port look-up: nothing goes on the network. */
    status = PerformNfsdCheck(&op, 1, 0, &kind);
    printf("PerformNfsdCheck %d kind %d\n", status, (int)kind);
    rpcCloseOperation(&op);
    return 0;
}

/* Encodes and decodes an array of 7 words once with each one-word routine
 * ("library": the library's routines by the program's addresses for them;
 * "own": own_int, which calls xdr_int through the program's entry for it).
 * check_one_pass.sh runs this under the dynamic linker's binding trace:
 * with "library", the program's entries for the routines are never called,
 * so the library moved the words itself; with "own", they are, once per
 * element, which shows the trace sees such calls. */
static int one_pass(const char* which) {
    const int own = strcmp(which, "own") == 0;
    const XdrProc routines[] = {AS_PROC(xdr_int), AS_PROC(xdr_u_int), AS_PROC(xdr_bool), AS_PROC(xdr_uint32_t),
                                AS_PROC(xdr_u_long)};
    int32_t values[7] = {1, -2, 3, -4, 5, -6, 7};
    size_t k;
    for (k = 0; k < sizeof routines / sizeof routines[0]; ++k) {
        const XdrProc proc = own ? (XdrProc)(void (*)(void))own_int : routines[k];
        uint32_t n = 7, back_n = 0;
        void* elements = values;
        void* back = NULL;
        MbufCursor w = writer();
        MbufCursor r;
        CHECK(xdr_array(&w, XDR_OP_ENCODE, &elements, &n, 7, 4, proc) == 1);
        r = reader(w.count);
        CHECK(xdr_array(&r, XDR_OP_DECODE, &back, &back_n, 7, 4, proc) == 1);
        CHECK(back_n == 7 && back != NULL && memcmp(back, values, sizeof values) == 0);
        CHECK(xdr_array(NULL, XDR_OP_FREE, &back, &back_n, 7, 4, proc) == 1);
    }
    return failures == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc > 2 && strcmp(argv[1], "one-pass") == 0) return one_pass(argv[2]);
    if (argc > 1 && strcmp(argv[1], "nfsdcheck") == 0) return nfsd_check();
    if (argc > 1 && strcmp(argv[1], "load") == 0) return 0;
    string_references();
    word_arrays();
    if (failures != 0) {
        fprintf(stderr, "%d checks failed\n", failures);
        return 1;
    }
    printf("all checks passed\n");
    return 0;
}
