// SPDX-License-Identifier: MIT
// The status codes of the RPCSEC_GSS functions (0 success), and the offsets
// that pass on the codes of the call header (s - 100) and of the call
// (s - 200); platform/status_table.h.
#pragma once

#include "platform/status_table.h"

namespace qelrpc::gss::rc {

QELRPC_STATUS_GSS(QELRPC_STATUS_CONSTANTS, QELRPC_STATUS_RULE_CONSTANT)

}  // namespace qelrpc::gss::rc
