// The RPC message record decoders over arbitrary bytes, each followed by the
// free mode. The first byte picks the record; the rest is the window, copied
// to a buffer of exactly its size so any read past it is caught. A decode
// that succeeds must re-encode to as many bytes as it consumed, and that
// encoding must decode and encode to itself. Whatever a decode allocated,
// successful or not, the free mode releases (LeakSanitizer checks).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

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

// A window over bytes; a non-null position even when there are none.
MbufCursor reader(std::vector<uint8_t>& b) {
    static uint8_t none;
    const auto n = static_cast<uint32_t>(b.size());
    return MbufCursor{n, n, b.empty() ? &none : b.data()};
}

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" CALLS_XDRPROC int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > RPC_MBUF_SIZE) return 0;
    const Record& r = kRecords[data[0] % (sizeof kRecords / sizeof kRecords[0])];
    std::vector<uint8_t> in(data + 1, data + size);

    // Zeroed like a caller's fresh record; the largest record fits.
    alignas(16) uint8_t first[sizeof(rpc_msg)] = {};
    alignas(16) uint8_t second[sizeof(rpc_msg)] = {};
    MbufCursor w = reader(in);
    const MbufCursor before = w;
    const int ok = r.proc(&w, XDR_OP_DECODE, first);
    check(ok == 0 || ok == 1);
    check(w.count <= before.count && (before.count - w.count) % 4 == 0);
    check(w.pos - before.pos == static_cast<ptrdiff_t>(before.count - w.count));

    if (ok) {
        const uint32_t consumed = before.count - w.count;
        std::vector<uint8_t> out(consumed + 8, 0xEE);
        MbufCursor e{0, static_cast<uint32_t>(out.size()), out.data()};
        check(r.proc(&e, XDR_OP_ENCODE, first) == 1);
        check(e.count == consumed);

        std::vector<uint8_t> again(out.begin(), out.begin() + consumed);
        MbufCursor d = reader(again);
        check(r.proc(&d, XDR_OP_DECODE, second) == 1 && d.count == 0);
        std::vector<uint8_t> out2(consumed + 8, 0xEE);
        MbufCursor e2{0, static_cast<uint32_t>(out2.size()), out2.data()};
        check(r.proc(&e2, XDR_OP_ENCODE, second) == 1 && e2.count == consumed);
        check(std::memcmp(out.data(), out2.data(), consumed) == 0);
        check(r.proc(nullptr, XDR_OP_FREE, second) == 1);
    }
    // Free runs on partial records too, with no stream.
    r.proc(nullptr, XDR_OP_FREE, first);
    return 0;
}
