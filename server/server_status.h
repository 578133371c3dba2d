// SPDX-License-Identifier: MIT
// Status codes of the server side (platform/status_table.h).
#pragma once

#include "platform/status_table.h"

namespace qelrpc::server::status {

QELRPC_STATUS_SERVER(QELRPC_STATUS_CONSTANTS, QELRPC_STATUS_RULE_CONSTANT)

}  // namespace qelrpc::server::status
