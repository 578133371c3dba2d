// The Qelnfsd result readers over a bounded window; the exported
// bare-pointer forms forward to these.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::nfsuser {

// 0, or kProtocolError (1728) when a pair is missing (its gid is -1).
int readQelnfsdResponseGroupNames(MbufCursor results, uint32_t count, int32_t** gidPtrs);
// count when every item had a name, 0 when an empty name ended the list,
// kProtocolError (1728) when the results cannot be read.
int readQelnfsdResponseGidOrUid(MbufCursor results, uint32_t count, char* names);
// The same reading for the library's own callers: 0 or kProtocolError;
// *named receives the number of names written, *written the bytes they
// took (each name and its NUL), so a caller appending in chunks knows
// where the next chunk goes whatever the names held.
int readQelnfsdNames(MbufCursor results, uint32_t count, char* names, uint32_t* named, size_t* written);

}  // namespace qelrpc::nfsuser
