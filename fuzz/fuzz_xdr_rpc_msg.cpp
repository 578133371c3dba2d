// SPDX-License-Identifier: MIT
// The RPC message record decoders over arbitrary bytes, each followed by the
// free mode. The first byte picks the record; the rest is the window, in
// read-only memory that ends where a guard page begins, so a write into it
// or a read past it faults. The records and the encodings lie between guard
// pages, each exactly its size. A decode that succeeds must re-encode to as
// many bytes as it consumed, and that encoding must decode and encode to
// itself. Whatever a decode allocated, successful or not, the free mode
// releases (LeakSanitizer checks).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_memory.h"
#include "qelrpc.h"

// The routines are called through XdrProc, as the C convention of XDR has it.
#if defined(__clang__)
#define CALLS_XDRPROC __attribute__((no_sanitize("function")))
#else
#define CALLS_XDRPROC
#endif

namespace {

struct Record {
    XdrProc proc;
    size_t size;
};

template <class T>
Record rec(int (*f)(MbufCursor*, XdrOp, T*)) {
    return Record{reinterpret_cast<XdrProc>(reinterpret_cast<void (*)()>(f)), sizeof(T)};
}

const Record kRecords[] = {
    rec(&xdr_opaque_auth),   rec(&xdr_mismatch_info), rec(&xdr_call_body),
    rec(&xdr_accepted_reply), rec(&xdr_rejected_reply), rec(&xdr_reply_body),
    rec(&xdr_rpc_msg),       rec(&xdr_rpc_netobj),    rec(&xdr_mapping),
};

// A read-only window over n bytes (with none, the position is the guard
// page itself: non-null, and faulting if anything reads it).
MbufCursor reader(fuzzmem::ReadOnlyInput& in, const void* bytes, uint32_t n) {
    return MbufCursor{n, n, const_cast<uint8_t*>(in.place(bytes, n))};
}

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" CALLS_XDRPROC int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > RPC_MBUF_SIZE) return 0;
    const Record& r = kRecords[data[0] % (sizeof kRecords / sizeof kRecords[0])];
    static fuzzmem::ReadOnlyInput input(RPC_MBUF_SIZE), again(RPC_MBUF_SIZE);
    static fuzzmem::GuardedOutput firstArea(sizeof(rpc_msg)), secondArea(sizeof(rpc_msg));
    static fuzzmem::GuardedOutput outArea(RPC_MBUF_SIZE + 4), out2Area(RPC_MBUF_SIZE + 4);

    // Zeroed like a caller's fresh record, exactly its size.
    void* first = firstArea.area(r.size);
    void* second = secondArea.area(r.size);
    MbufCursor w = reader(input, data + 1, static_cast<uint32_t>(size - 1));
    const MbufCursor before = w;
    const int ok = r.proc(&w, XDR_OP_DECODE, first);
    check(ok == 0 || ok == 1);
    check(w.count <= before.count && (before.count - w.count) % 4 == 0);
    check(w.pos - before.pos == static_cast<ptrdiff_t>(before.count - w.count));

    if (ok) {
        const uint32_t consumed = before.count - w.count;
        // Exactly the bytes plus the writers' 4-byte reserve.
        uint8_t* out = outArea.area(consumed + 4);
        MbufCursor e{0, consumed + 4, out};
        check(r.proc(&e, XDR_OP_ENCODE, first) == 1);
        check(e.count == consumed);

        MbufCursor d = reader(again, out, consumed);
        check(r.proc(&d, XDR_OP_DECODE, second) == 1 && d.count == 0);
        uint8_t* out2 = out2Area.area(consumed + 4);
        MbufCursor e2{0, consumed + 4, out2};
        check(r.proc(&e2, XDR_OP_ENCODE, second) == 1 && e2.count == consumed);
        check(std::memcmp(out, out2, consumed) == 0);
        check(r.proc(nullptr, XDR_OP_FREE, second) == 1);
    }
    // Free runs on partial records too, with no stream.
    r.proc(nullptr, XDR_OP_FREE, first);
    return 0;
}
