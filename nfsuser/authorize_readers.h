// The authorisation reply readers over a bounded window; the exported
// bare-pointer forms forward to these.
//
//   status   0 = accepted
//   uid
//   gid      primary group
//   count    n
//   gid ...  n further gids (whatever follows is not read)
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::nfsuser {

// Sets *uid, *gid and the first *groupCount entries of gids to -1, then,
// for an accepted reply, stores uid, gid and at most *groupCount further
// gids, and sets *groupCount to the number stored (no more than the reply
// names, the capacity, or the words received). Returns 0 when accepted,
// else `refused` (outputs at -1, *groupCount unchanged); a reply too short
// for its four leading words counts as refused.
int readAuthorizeResponse(MbufCursor results, int32_t* uid, int32_t* gid, int32_t* gids, int32_t* groupCount,
                          int refused);

constexpr int kQelnfsdRefused = -1;
constexpr int kPcnfsdRefused = 5;

}  // namespace qelrpc::nfsuser
