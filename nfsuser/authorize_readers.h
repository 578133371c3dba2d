// SPDX-License-Identifier: MIT
// The authorisation reply readers over a bounded window.
//
//   status   0 = accepted
//   uid
//   gid      primary group
//   count    n
//   gid ...  n further gids (whatever follows is not read)
#pragma once

#include <cstdint>

#include "platform/status_table.h"
#include "qelrpc.h"

namespace qelrpc::nfsuser {

// Sets *uid, *gid and the first *groupCount entries of gids to -1, then,
// for an accepted reply, stores uid, gid and at most *groupCount further
// gids, and sets *groupCount to the number stored (no more than the reply
// names or the capacity).
// Returns 0 when accepted, `refused` when the status word is nonzero, and
// kProtocolError (1728) when the results cannot be read: no status word,
// an accepted reply without its uid, gid and count, or with fewer gids
// than its count names. On every result but 0 the outputs stay at -1 and
// *groupCount is unchanged.
int readAuthorizeResponse(MbufCursor results, int32_t* uid, int32_t* gid, int32_t* gids, int32_t* groupCount,
                          int refused);

// kQelnfsdRefused, kPcnfsdRefused and the other codes of PerformAuthorizeUser.
QELRPC_STATUS_AUTHORIZE(QELRPC_STATUS_CONSTANTS, QELRPC_STATUS_NO_RULE)

}  // namespace qelrpc::nfsuser
