// Releasing a credential record and the flavor record it owns.
#pragma once

#include "qelrpc.h"

namespace qelrpc::auth {

// Releases the RpcAuth record and what its body owns, by flavor. Null is fine.
void releaseCredential(RpcAuth* auth) noexcept;

}  // namespace qelrpc::auth
