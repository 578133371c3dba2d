// SPDX-License-Identifier: MIT
// Status codes of the call side (operation, call, portmapper look-up), as
// platform/status_table.h numbers and describes them.
#pragma once

#include "platform/status_table.h"

namespace qelrpc::status {

QELRPC_STATUS_OPERATION(QELRPC_STATUS_CONSTANTS, QELRPC_STATUS_RULE_CONSTANT)
QELRPC_STATUS_CALL(QELRPC_STATUS_CONSTANTS, QELRPC_STATUS_RULE_CONSTANT)
QELRPC_STATUS_PORT_LOOKUP(QELRPC_STATUS_CONSTANTS, QELRPC_STATUS_RULE_CONSTANT)

}  // namespace qelrpc::status
