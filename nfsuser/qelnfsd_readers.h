// The Qelnfsd result readers over a bounded window; the exported
// bare-pointer forms forward to these.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::nfsuser {

int readQelnfsdResponseGroupNames(MbufCursor results, uint32_t count, int32_t** gidPtrs);
int readQelnfsdResponseGidOrUid(MbufCursor results, uint32_t count, char* names);

}  // namespace qelrpc::nfsuser
