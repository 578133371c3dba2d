// The exported XDR primitives (RFC 4506): integers, opaque data, counted
// bytes, strings, arrays, references and optional data, plus the heap
// helpers callers use for what a decode hands out or a free takes back.
//
// Every routine returns 1 or 0. Encode and decode refuse a null stream
// before anything else; free never looks at the stream.
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

// Routines are told apart by address, through a cast to the one function
// type that may stand for any other.
using AnyFunction = void (*)();
template <class F>
AnyFunction fn(F f) {
    return reinterpret_cast<AnyFunction>(f);
}

// Each of the routines the composites treat specially has two addresses: its
// own, which this library's code sees, and the one the process gives its
// exported name, which a program that is not position-independent passes
// (its references go through a canonical entry of its own, while this
// library binds its names to itself). Both stand for the routine.
struct CallerAddresses {
    AnyFunction string, int_, uInt, bool_, uint32, uLong;
};
const CallerAddresses& callerAddresses() {
    static const CallerAddresses a = [] {
        const auto look = [](const char* name) {
            return reinterpret_cast<AnyFunction>(qelrpc::platform::exportedFunctionAddress(name));
        };
        return CallerAddresses{look("xdr_string"), look("xdr_int"),    look("xdr_u_int"),
                               look("xdr_bool"),   look("xdr_uint32_t"), look("xdr_u_long")};
    }();
    return a;
}

// The routine a caller's pointer stands for, past any import thunk of the
// caller's own (Windows programs that declare the functions without
// dllimport pass their thunk's address).
AnyFunction routineOf(XdrProc p) {
    return reinterpret_cast<AnyFunction>(
        const_cast<void*>(qelrpc::platform::functionBehindThunks(reinterpret_cast<const void*>(p))));
}

bool isStringRoutine(XdrProc p) {
    const AnyFunction f = routineOf(p);
    return f == fn(&xdr_string) || f == callerAddresses().string;
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

// The library's own one-word routines: arrays of them are moved in one pass.
bool isWordRoutine(XdrProc p) {
    const AnyFunction f = routineOf(p);
    if (f == fn(&xdr_int) || f == fn(&xdr_u_int) || f == fn(&xdr_bool) || f == fn(&xdr_uint32_t) ||
        f == fn(&xdr_u_long))
        return true;
    const CallerAddresses& c = callerAddresses();
    return f == c.int_ || f == c.uInt || f == c.bool_ || f == c.uint32 || f == c.uLong;
}

QELRPC_CALLS_XDRPROC int array(MbufCursor* s, XdrOp op, void** elements, uint32_t* count, uint32_t maxCount, uint32_t size,
          XdrProc proc) {
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

    if (size == 4 && isWordRoutine(proc)) {
        if (op == kEncode && wire::hasRoom(*s, total)) {
            for (uint32_t i = 0; i < n; ++i) {
                uint32_t v;
                std::memcpy(&v, base + size_t{i} * 4, 4);
                wire::storeWord(s->pos + size_t{i} * 4, v);
            }
            s->pos += total;
            s->count += static_cast<uint32_t>(total);
            return kOk;
        }
        if (op == kDecode && s->count >= total) {
            for (uint32_t i = 0; i < n; ++i) {
                const uint32_t v = wire::loadWord(s->pos + size_t{i} * 4);
                std::memcpy(base + size_t{i} * 4, &v, 4);
            }
            s->pos += total;
            s->count -= static_cast<uint32_t>(total);
            return kOk;
        }
        if (op == kFree) {
            heap::release(base);
            *elements = nullptr;
            return kOk;
        }
        // Not all of it fits: element by element, so the words that fit are
        // moved exactly as single calls would have moved them.
    }

    if (op == kFree) {
        // Every element is freed even if one says it failed, then the block.
        int result = kOk;
        for (uint32_t i = 0; i < n; ++i)
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

QELRPC_CALLS_XDRPROC int reference(MbufCursor* s, XdrOp op, void** object, uint32_t size, XdrProc proc) {
    if (object == nullptr || proc == nullptr) return kFail;
    if (isStringRoutine(proc)) {
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

int pointer(MbufCursor* s, XdrOp op, void** object, uint32_t size, XdrProc proc) {
    if (object == nullptr) return kFail;
    uint32_t present = *object != nullptr ? 1 : 0;
    if (!u32(s, op, &present)) return kFail;
    if (present == 0) {
        *object = nullptr;
        return kOk;
    }
    return reference(s, op, object, size, proc);
}

}  // namespace

extern "C" {

int xdr_uint32_t(MbufCursor* stream, XdrOp op, uint32_t* value) {
    if (op == kFree) return kOk;
    return u32(stream, op, value);
}

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
    return array(stream, op, elements, count, maxCount, elementSize, elementProc);
}

int xdr_reference(MbufCursor* stream, XdrOp op, void** object, uint32_t objectSize, XdrProc proc) {
    return reference(stream, op, object, objectSize, proc);
}

int xdr_pointer(MbufCursor* stream, XdrOp op, void** object, uint32_t objectSize, XdrProc proc) {
    return pointer(stream, op, object, objectSize, proc);
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
