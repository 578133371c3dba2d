// SPDX-License-Identifier: MIT
// The exported XDR primitives (RFC 4506): integers, opaque data, counted
// bytes, strings, arrays, references and optional data, plus the heap
// helpers callers use for what a decode hands out or a free takes back.
//
// Every routine returns 1 or 0. Encode and decode refuse a null stream
// before anything else; free never looks at the stream.
#include <array>
#include <cstdint>
#include <cstring>

#include "platform/module.h"
#include "qelrpc.h"
#include "platform/heap.h"
#include "xdr/wire.h"
#include "xdr/xdr_codec.h"

using namespace qelrpc::xdr;
namespace wire = qelrpc::wire;
namespace heap = qelrpc::heap;

namespace {

// What the composites know of an element or object routine: the internal
// array, reference and pointer take it as an argument and never look at the
// routine's address.
enum class Routine {
    Other,   // called element by element
    Word,    // one of the library's one-word routines: an array moves in one pass
    String,  // xdr_string: as an object, the object pointer is the text itself
};

// The C edge's one use of a routine's address: the exported composites get
// nothing but the caller's pointer, and the documented behaviour depends on
// which of ours it is. xdr_string must be known for correctness (it takes a
// maximum the composites do not pass, and its object is the text itself);
// the one-word routines for speed (rows Qel_IntArrayEncode and
// Qel_IntArrayDecodeFree of bench_xdr: one pass against a call per word).
// Each routine has its own address, the one the process gives its exported
// name (what a program that is not position-independent passes, through a
// canonical entry of its own, while this library binds its names to
// itself), and on Windows a caller's own import thunks in front of it.
using AnyFunction = void (*)();
template <class F>
AnyFunction fn(F f) {
    return reinterpret_cast<AnyFunction>(f);
}

Routine routineOf(XdrProc p) {
    struct Known {
        const char* name;
        AnyFunction own, canonical;
        Routine kind;
    };
    static const std::array<Known, 6> known = [] {
        std::array<Known, 6> k{{{"xdr_string", fn(&xdr_string), nullptr, Routine::String},
                                {"xdr_int", fn(&xdr_int), nullptr, Routine::Word},
                                {"xdr_u_int", fn(&xdr_u_int), nullptr, Routine::Word},
                                {"xdr_bool", fn(&xdr_bool), nullptr, Routine::Word},
                                {"xdr_uint32_t", fn(&xdr_uint32_t), nullptr, Routine::Word},
                                {"xdr_u_long", fn(&xdr_u_long), nullptr, Routine::Word}}};
        for (Known& e : k) e.canonical = fn(qelrpc::platform::exportedFunctionAddress(e.name));
        return k;
    }();
    const void* behind = qelrpc::platform::functionBehindThunks(reinterpret_cast<const void*>(p));
    const AnyFunction f = fn(const_cast<void*>(behind));
    for (const Known& e : known)
        if (f == e.own || (f != nullptr && f == e.canonical)) return e.kind;
    return Routine::Other;
}

// A 32-bit integer through a 32-bit temporary. Free has nothing to release.
template <class T>
inline int word(MbufCursor* s, XdrOp op, T* v) {
    if (op == kEncode) {
        if (v == nullptr) return kFail;
        uint32_t t = static_cast<uint32_t>(*v);
        return u32(s, kEncode, &t);
    }
    if (op == kDecode) {
        uint32_t t;
        if (v == nullptr || !u32(s, kDecode, &t)) return kFail;
        *v = static_cast<T>(t);
        return kOk;
    }
    return op == kFree ? kOk : kFail;
}

// An array of one-word elements in one pass (row Qel_IntArrayEncode and
// Qel_IntArrayDecodeFree of bench_xdr). False when not all of it fits: the
// caller then goes element by element, so the words that fit are moved
// exactly as single calls would have moved them.
bool wordsInOnePass(MbufCursor* s, XdrOp op, uint8_t* base, uint32_t n) {
    const uint64_t total = uint64_t{n} * 4;
    if (total > UINT32_MAX) return false;
    if (op == kEncode) {
        wire::Writer w(*s);
        uint8_t* out = w.reserve(static_cast<uint32_t>(total));
        if (out == nullptr) return false;
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t v;
            std::memcpy(&v, base + size_t{i} * 4, 4);
            // Swapped and stored whole: with byte stores GCC vectorises
            // the swap but stores byte by byte (Qel_IntArrayEncode: 3x).
            v = wire::toNetwork32(v);
            std::memcpy(out + size_t{i} * 4, &v, 4);
        }
        wire::takeBack(*s, w.window());
        return true;
    }
    wire::Reader r(*s);
    const uint8_t* in = r.bytes(total);
    if (in == nullptr) return false;
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t v = wire::loadWord(in + size_t{i} * 4);
        std::memcpy(base + size_t{i} * 4, &v, 4);
    }
    wire::takeBack(*s, r.window());
    return true;
}

QELRPC_CALLS_XDRPROC int array(MbufCursor* s, XdrOp op, void** elements, uint32_t* count, uint32_t maxCount,
                               uint32_t size, XdrProc proc, Routine kind) {
    if (elements == nullptr || count == nullptr || proc == nullptr) return kFail;
    if (op == kEncode || op == kDecode) {
        if (!u32(s, op, count) || *count > maxCount) return kFail;
    } else if (op != kFree) {
        return kFail;
    }
    const uint32_t n = *count;
    // Both factors are 32-bit, so the product is exact in 64 bits; it must
    // also fit this machine's address space.
    const uint64_t total = uint64_t{n} * size;
    if (total > SIZE_MAX) {
        if (op == kDecode) *elements = nullptr;
        return kFail;
    }
    if (op == kDecode) {
        // Every element takes at least one word on the wire, so a count the
        // window cannot hold is refused before anything is allocated.
        void* block = nullptr;
        if (n > s->count / 4 || (block = heap::zeroed(static_cast<size_t>(total))) == nullptr) {
            *elements = nullptr;
            return kFail;
        }
        *elements = block;
    }
    auto* base = static_cast<uint8_t*>(*elements);
    if (base == nullptr) return n == 0 && op != kDecode ? kOk : kFail;

    const bool words = size == 4 && kind == Routine::Word;
    if (words && op != kFree && wordsInOnePass(s, op, base, n)) return kOk;
    if (op == kFree) {
        // Every element is freed even if one says it failed, then the block
        // (a one-word element has nothing of its own to free).
        int result = kOk;
        for (uint32_t i = 0; i < n && !words; ++i)
            if (!proc(s, kFree, base + size_t{i} * size)) result = kFail;
        heap::release(base);
        *elements = nullptr;
        return result;
    }
    for (uint32_t i = 0; i < n; ++i) {
        if (proc(s, op, base + size_t{i} * size)) continue;
        if (op == kDecode) {
            // The elements decoded so far, and the failing one as far as it
            // got, may hold blocks of their own: release them with the block.
            for (uint32_t j = 0; j <= i; ++j) proc(s, kFree, base + size_t{j} * size);
            heap::release(base);
            *elements = nullptr;
        }
        return kFail;
    }
    return kOk;
}

QELRPC_CALLS_XDRPROC int reference(MbufCursor* s, XdrOp op, void** object, uint32_t size, XdrProc proc,
                                   Routine kind) {
    if (object == nullptr || proc == nullptr) return kFail;
    if (kind == Routine::String) {
        // A string routine needs its maximum as a fourth argument; as the
        // object of a reference it reads a string of any length.
        char* text = static_cast<char*>(*object);
        const int r = string(s, op, &text, UINT32_MAX);
        *object = text;
        return r;
    }
    void* loc = *object;
    if (loc == nullptr) {
        if (op == kDecode) {
            if ((loc = heap::zeroed(size)) == nullptr) return kFail;
            *object = loc;
        } else if (op == kFree) {
            return kOk;
        } else if (op == kEncode) {
            return kFail;  // nothing to encode
        }
    }
    const int r = proc(s, op, loc) ? kOk : kFail;
    if (op == kFree) {
        heap::release(loc);
        *object = nullptr;
    }
    return r;
}

int pointer(MbufCursor* s, XdrOp op, void** object, uint32_t size, XdrProc proc, Routine kind) {
    if (object == nullptr) return kFail;
    uint32_t present = *object != nullptr ? 1 : 0;
    if (!u32(s, op, &present)) return kFail;
    if (present == 0) {
        *object = nullptr;
        return kOk;
    }
    return reference(s, op, object, size, proc, kind);
}

}  // namespace

extern "C" {

int xdr_uint32_t(MbufCursor* stream, XdrOp op, uint32_t* value) { return u32(stream, op, value); }

int xdr_u_long(MbufCursor* stream, XdrOp op, uint32_t* value) { return word(stream, op, value); }
int xdr_int(MbufCursor* stream, XdrOp op, int32_t* value) { return word(stream, op, value); }
int xdr_u_int(MbufCursor* stream, XdrOp op, uint32_t* value) { return word(stream, op, value); }
int xdr_bool(MbufCursor* stream, XdrOp op, int32_t* value) { return word(stream, op, value); }
int xdr_u_char(MbufCursor* stream, XdrOp op, unsigned char* value) { return word(stream, op, value); }

int xdr_void(void) { return kOk; }

int xdr_opaque(MbufCursor* stream, XdrOp op, uint32_t length, void* bytes) {
    return opaque(stream, op, length, bytes);
}

int xdr_bytes(MbufCursor* stream, XdrOp op, void** bytes, uint32_t* length, uint32_t maxLength) {
    if (bytes == nullptr || length == nullptr) return kFail;
    return qelrpc::xdr::bytes(stream, op, *bytes, *length, maxLength);
}

int xdr_string(MbufCursor* stream, XdrOp op, char** text, uint32_t maxLength) {
    return string(stream, op, text, maxLength);
}

int xdr_array(MbufCursor* stream, XdrOp op, void** elements, uint32_t* count, uint32_t maxCount,
              uint32_t elementSize, XdrProc elementProc) {
    return array(stream, op, elements, count, maxCount, elementSize, elementProc, routineOf(elementProc));
}

int xdr_reference(MbufCursor* stream, XdrOp op, void** object, uint32_t objectSize, XdrProc proc) {
    return reference(stream, op, object, objectSize, proc, routineOf(proc));
}

int xdr_pointer(MbufCursor* stream, XdrOp op, void** object, uint32_t objectSize, XdrProc proc) {
    return pointer(stream, op, object, objectSize, proc, routineOf(proc));
}

void* xdrutil_malloc(uint32_t size) { return heap::zeroed(size); }

void xdrutil_free(void* block) { heap::release(block); }

char* xdrutil_strdup(const char* text) {
    if (text == nullptr) return nullptr;
    const size_t len = std::strlen(text);
    auto* copy = static_cast<char*>(heap::raw(len + 1));
    if (copy != nullptr) std::memcpy(copy, text, len + 1);
    return copy;
}

}  // extern "C"
