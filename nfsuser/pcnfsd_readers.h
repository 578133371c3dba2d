// The PCNFSD MAPID result readers over a bounded window; the exported
// bare-pointer forms forward to these.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::nfsuser {

int readPcnfsdResponseGidOrUid(MbufCursor results, uint32_t count, char* names);
int readPcnfsdResponseGroupNames(MbufCursor results, uint32_t count, int32_t** gidPtrs);

}  // namespace qelrpc::nfsuser
