// SPDX-License-Identifier: MIT
// The message buffer's word and string routines, which the library's own
// code calls; the exported mbuf* routines are thin shells over them, with
// the same return codes (include/qelrpc.h). A refused call changes nothing.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::mbuf {

int addLong(MbufCursor& stream, int32_t value);
int getLong(MbufCursor& stream, uint32_t* value);
int addStringEx(MbufCursor& stream, const char* bytes, uint32_t length);
int addString(MbufCursor& stream, const char* text);
// Returns L + 1 (nothing consumed) when the string of length L does not fit
// destSize bytes with its terminating NUL.
int getString(MbufCursor& stream, char* dest, uint32_t destSize);
// Releases the block and clears the whole record.
int freeMbuf(Mbuf& m);

}  // namespace qelrpc::mbuf
