// Status codes the library returns. Windows error numbers are used where the
// library speaks to the suite's programs; small negative numbers are argument
// and protocol outcomes of each family.
#pragma once

namespace qelrpc::status {

constexpr int kOk = 0;
constexpr int kNoMemory = 8;            // ERROR_NOT_ENOUGH_MEMORY
constexpr int kNoServerAddress = 67;    // ERROR_BAD_NET_NAME
constexpr int kInvalidParameter = 87;   // ERROR_INVALID_PARAMETER: unknown credential flavor
constexpr int kNullRecord = 1208;       // ERROR_EXTENDED_ERROR: null record or no registered port

// rpcPrepareRPCHeader
constexpr int kHeaderNullOperation = -1;

}  // namespace qelrpc::status
