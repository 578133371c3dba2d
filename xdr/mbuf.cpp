// SPDX-License-Identifier: MIT
// The message buffer's word and string routines: the stream every mbuf* and
// xdr_* routine reads and writes. Each but getString (see there) works on a
// wire::Reader or wire::Writer over a copy of the stream and takes the
// window back only on success, so a refused call changes nothing.
#include "xdr/mbuf.h"

#include <cstring>

#include "platform/heap.h"
#include "platform/status_table.h"
#include "xdr/wire.h"

namespace qelrpc::mbuf {

namespace {
QELRPC_STATUS_BUFFER(QELRPC_STATUS_CONSTANTS, QELRPC_STATUS_NO_RULE)
}  // namespace

int addLong(MbufCursor& stream, int32_t value) {
    if (stream.pos == nullptr) return kNoStream;
    wire::Writer w(stream);
    if (!w.word(static_cast<uint32_t>(value))) return kNoRoom;
    wire::takeBack(stream, w.window());
    return kOk;
}

int getLong(MbufCursor& stream, uint32_t* value) {
    if (stream.pos == nullptr) return kNoStream;
    wire::Reader r(stream);
    const uint32_t v = r.word();
    if (!r.ok()) return kNoRoom;
    if (value != nullptr) *value = v;
    wire::takeBack(stream, r.window());
    return kOk;
}

int addStringEx(MbufCursor& stream, const char* bytes, uint32_t length) {
    if (stream.pos == nullptr || (bytes == nullptr && length != 0)) return kNoStream;
    wire::Writer w(stream);
    if (!w.opaque(bytes, length)) return kNoRoom;
    wire::takeBack(stream, w.window());
    return kOk;
}

int addString(MbufCursor& stream, const char* text) {
    if (stream.pos == nullptr || text == nullptr) return kNoStream;
    const size_t len = std::strlen(text);
    // A text of 4 GiB or more can never fit a 32-bit window.
    if (len > UINT32_MAX) return kNoRoom;
    return addStringEx(stream, text, static_cast<uint32_t>(len));
}

int getString(MbufCursor& stream, char* dest, uint32_t destSize) {
    if (stream.pos == nullptr) return kNoStream;
    // Qel_StringsDecode (bench_mbuf): the length read in place and the
    // window moved once, after the copy; through a Reader, 1.07 times as long.
    if (stream.count < 4) return kNoRoom;
    const uint32_t len = wire::loadWord(stream.pos);
    const uint64_t total = 4 + wire::padded(len);
    if (stream.count < total) return kNoRoom;
    // The window holds the whole string (so len < 65,536 in a real block):
    // len + 1 fits an int.
    if (len >= destSize || dest == nullptr) return static_cast<int>(uint64_t{len} + 1 > INT32_MAX ? INT32_MAX : len + 1);
    if (len != 0) std::memcpy(dest, stream.pos + 4, len);
    dest[len] = '\0';
    stream.pos += total;
    stream.count -= static_cast<uint32_t>(total);
    return kOk;
}

int freeMbuf(Mbuf& m) {
    heap::release(m.block.pos);
    std::memset(&m, 0, sizeof m);
    return kOk;
}

}  // namespace qelrpc::mbuf

// The exports: a null stream is refused like a stream without a block.
extern "C" {
using namespace qelrpc;
using mbuf::kNoStream;

int mbufAddLong(MbufCursor* s, int32_t value) { return s ? mbuf::addLong(*s, value) : kNoStream; }
int mbufGetLong(MbufCursor* s, uint32_t* value) { return s ? mbuf::getLong(*s, value) : kNoStream; }
int mbufAddString(MbufCursor* s, const char* text) { return s ? mbuf::addString(*s, text) : kNoStream; }
int mbufAddStringEx(MbufCursor* s, const char* b, uint32_t n) { return s ? mbuf::addStringEx(*s, b, n) : kNoStream; }
int mbufGetString(MbufCursor* s, char* dest, uint32_t size) { return s ? mbuf::getString(*s, dest, size) : kNoStream; }
int mbufFreeMbuf(Mbuf* m) { return m ? mbuf::freeMbuf(*m) : mbuf::kOk; }

}  // extern "C"
