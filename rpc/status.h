// Status codes of the call side: the operation, the call (header, the UDP
// and TCP exchanges, the call driver, the reply check) and the portmapper
// look-up. Windows error numbers are used where the library speaks to the
// suite's programs; small negative numbers are argument and protocol
// outcomes. The numbers and their meanings are platform/status_table.h's.
#pragma once

#include "platform/status_table.h"

namespace qelrpc::status {

QELRPC_STATUS_OPERATION(QELRPC_STATUS_CONSTANTS, QELRPC_STATUS_RULE_CONSTANT)
QELRPC_STATUS_CALL(QELRPC_STATUS_CONSTANTS, QELRPC_STATUS_RULE_CONSTANT)
QELRPC_STATUS_PORT_LOOKUP(QELRPC_STATUS_CONSTANTS, QELRPC_STATUS_RULE_CONSTANT)

}  // namespace qelrpc::status
