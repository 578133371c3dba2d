// SPDX-License-Identifier: MIT
// The portmapper look-up as internals: GetProgramPort and BuildPmapGetPort
// are thin shells over these (they refuse a null operation or mapping).
// Same return codes as the exports.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::rpc {

// Finds op's TCP and UDP ports for prog/vers through the host's portmapper.
int getProgramPort(RpcOperation& op, uint32_t prog, uint32_t vers, int reserved) noexcept;

// Appends a PMAPPROC_GETPORT argument (four words) to stream.
int buildPmapGetPort(MbufCursor* stream, const mapping& m) noexcept;

}  // namespace qelrpc::rpc
