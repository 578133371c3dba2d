// SPDX-License-Identifier: MIT
// The Qelnfsd version 1 client's internals.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::nfsuser {

// Procedures 4 and 8: count names of a NameList as back-to-back strings on
// a fresh data window; 0, or the first refused write's status.
int writeQelnfsdNames(RpcOperation& op, uint32_t count, const char* names);
// Procedures 5 and 7: the count and count ids (-1 each without ids).
int writeQelnfsdIds(RpcOperation& op, uint32_t count, const int32_t* ids);

// One { status, gid } pair per name: -1 where the status is not 0 or the
// pair is missing; 0, or kProtocolError (1728) when a pair is missing.
int readQelnfsdResponseGroupNames(MbufCursor results, uint32_t count, int32_t** gidPtrs);
// count when every item had a name, 0 when an empty name ended the list,
// kProtocolError (1728) when the results cannot be read.
int readQelnfsdResponseGidOrUid(MbufCursor results, uint32_t count, char* names);
// The same reading for the library's own callers: 0 or kProtocolError;
// *named receives the number of names written, *written the bytes they
// took (each name and its NUL), so a caller appending in chunks knows
// where the next chunk goes whatever the names held.
int readQelnfsdNames(MbufCursor results, uint32_t count, char* names, uint32_t* named, size_t* written);
// One { status, uid } pair per name: uids[i] the uid, -1 for a pair the
// results do not hold; 0, or -2 when a pair is missing.
int readQelnfsdUids(MbufCursor results, uint32_t count, int32_t* uids);

}  // namespace qelrpc::nfsuser
