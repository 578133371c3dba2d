// SPDX-License-Identifier: MIT
// libtirpc, reached through dlopen so its xdr_* names never meet ours in one
// link. Every benchmark program gets this; the side is loaded on first use.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bench::tirpc {

// Room for libtirpc's XDR stream record (its size is checked where libtirpc's
// own header is seen).
struct Stream {
    alignas(16) unsigned char storage[128];
};

enum Op { kEncode = 0, kDecode = 1, kFree = 2 };

struct Api {
    void (*xdrmem_create)(Stream*, char*, unsigned, int);
    int (*xdr_u_int)(Stream*, unsigned*);
    int (*xdr_int)(Stream*, int*);
    int (*xdr_string)(Stream*, char**, unsigned);
    int (*xdr_bytes)(Stream*, char**, unsigned*, unsigned);
    int (*xdr_opaque)(Stream*, char*, unsigned);
    int (*xdr_array)(Stream*, char**, unsigned*, unsigned, unsigned, int (*)(Stream*, void*));
    void (*xdr_free)(int (*)(Stream*, void*), void*);
    unsigned (*getpos)(Stream*);
};

// Loads libtirpc.so.3 once; aborts with a message when it is missing.
const Api& api();

// A prepared AUTH_UNIX call header writer: xdr_callhdr + AUTH_MARSHALL, as
// libtirpc's clients build every call. Returns the header length or 0.
struct CallHeader;
CallHeader* newCallHeader(const char* machine, unsigned uid, unsigned gid, unsigned prog, unsigned vers);
unsigned writeCallHeader(CallHeader* h, char* buf, unsigned size, unsigned xid, unsigned proc);
void deleteCallHeader(CallHeader* h);

}  // namespace bench::tirpc
