// SPDX-License-Identifier: MIT
// The process-wide transaction-id counter (..., 4294967295, 1, ...; never 0).
// The first id is random so that a peer cannot guess the id of a call it did
// not see (replies over UDP are taken from any sender; only the xid ties them
// to the call).
#pragma once

#include <cstdint>

namespace qelrpc::xid {

// Returns the next id and advances the counter. Safe from any thread.
uint32_t take() noexcept;

// Test seam: the id the next take() returns (0 is taken as 1).
void setNext(uint32_t next) noexcept;

}  // namespace qelrpc::xid
