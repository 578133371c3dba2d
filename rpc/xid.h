// The process-wide transaction-id counter: ids run 1, 2, ..., 4294967295, 1,
// ... across every operation of the process and are never 0.
#pragma once

#include <cstdint>

namespace qelrpc::xid {

// Returns the next id and advances the counter. Safe from any thread.
uint32_t take() noexcept;

// Test seam: the id the next take() returns (0 is taken as 1).
void setNext(uint32_t next) noexcept;

}  // namespace qelrpc::xid
