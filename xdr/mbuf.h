// SPDX-License-Identifier: MIT
// The message buffer's word and string routines as internals: the exported
// mbuf* routines are thin shells over these, and the library's own code
// calls these, never the exported names. Same return codes as the exports:
// 0 success; -1 no block (or no bytes behind a nonzero length); -2 no room
// (writers keep 4 bytes in reserve) or too few bytes left (readers). A
// refused call changes nothing.
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
