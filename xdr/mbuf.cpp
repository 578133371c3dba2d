// The message buffer's word and string routines: the stream every mbuf* and
// xdr_* routine reads and writes. A refused call changes nothing.
#include <cstdlib>
#include <cstring>

#include "qelrpc.h"
#include "platform/heap.h"
#include "xdr/wire.h"

using namespace qelrpc::wire;

namespace {
constexpr int kOk = 0;
constexpr int kNoStream = -1;
constexpr int kNoRoom = -2;

bool usable(const MbufCursor* s) { return s != nullptr && s->pos != nullptr; }
}  // namespace

extern "C" {

int mbufAddLong(MbufCursor* stream, int32_t value) {
    if (!usable(stream)) return kNoStream;
    if (!hasRoom(*stream, 4)) return kNoRoom;
    putWord(*stream, static_cast<uint32_t>(value));
    return kOk;
}

int mbufGetLong(MbufCursor* stream, uint32_t* value) {
    if (!usable(stream)) return kNoStream;
    if (stream->count < 4) return kNoRoom;
    const uint32_t v = loadWord(stream->pos);
    if (value != nullptr) *value = v;
    stream->pos += 4;
    stream->count -= 4;
    return kOk;
}

int mbufAddStringEx(MbufCursor* stream, const char* bytes, uint32_t length) {
    if (!usable(stream)) return kNoStream;
    if (bytes == nullptr && length != 0) return kNoStream;
    if (!hasRoom(*stream, 4 + padded(length))) return kNoRoom;
    putWord(*stream, length);
    putPaddedBytes(*stream, bytes, length);
    return kOk;
}

int mbufAddString(MbufCursor* stream, const char* text) {
    if (!usable(stream)) return kNoStream;
    if (text == nullptr) return kNoStream;
    const size_t len = std::strlen(text);
    // A text of 4 GiB or more can never fit a 32-bit window.
    if (len > UINT32_MAX) return kNoRoom;
    return mbufAddStringEx(stream, text, static_cast<uint32_t>(len));
}

int mbufGetString(MbufCursor* stream, char* dest, uint32_t destSize) {
    if (!usable(stream)) return kNoStream;
    if (stream->count < 4) return kNoRoom;
    const uint32_t len = loadWord(stream->pos);
    const uint64_t total = 4 + padded(len);
    if (stream->count < total) return kNoRoom;
    // The window holds the whole string (so len < 65,536 in a real block):
    // len + 1 fits an int.
    if (len >= destSize || dest == nullptr) return static_cast<int>(uint64_t{len} + 1 > INT32_MAX ? INT32_MAX : len + 1);
    if (len != 0) std::memcpy(dest, stream->pos + 4, len);
    dest[len] = '\0';
    stream->pos += total;
    stream->count -= static_cast<uint32_t>(total);
    return kOk;
}

int mbufFreeMbuf(Mbuf* m) {
    if (m == nullptr) return kOk;
    qelrpc::heap::release(m->block.pos);
    std::memset(m, 0, sizeof *m);
    return kOk;
}

}  // extern "C"
