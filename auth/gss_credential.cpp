// RPCSEC_GSS credential writer. Until the RPCSEC_GSS flavor is built, an
// operation carrying it cannot write a header.
#include "auth/flavor_writers.h"
#include "rpc/heap.h"
#include "rpc/status.h"

namespace qelrpc::auth {

int writeRpcsecGssCred(RpcOperation&, uint8_t*, const uint8_t*) noexcept { return status::kInvalidParameter; }

void releaseRpcsecGssBody(void* body) noexcept { heap::release(body); }

}  // namespace qelrpc::auth
