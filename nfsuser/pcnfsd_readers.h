// The PCNFSD MAPID result readers over a bounded window; the exported
// bare-pointer forms forward to these.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::nfsuser {

// Both return 0, or kProtocolError (1728) when the results cannot be read
// (the names or gids read before that point are kept). An item counts only
// where its kind answers the question: `kind` 0 or 1 for the id-to-name
// reader (-1: either), 3 (group name to gid) for the group-name reader;
// any other item leaves its entry unknown ("Nobody", or -1). The
// group-name reader returns 1 when the reply still held the last item
// asked for, 0 when its list ended earlier.
int readPcnfsdResponseGidOrUid(MbufCursor results, uint32_t count, char* names, int32_t kind = -1);
int readPcnfsdResponseGroupNames(MbufCursor results, uint32_t count, int32_t** gidPtrs);

}  // namespace qelrpc::nfsuser
