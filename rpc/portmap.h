// SPDX-License-Identifier: MIT
// Internals of GetProgramPort and BuildPmapGetPort.
#pragma once

#include <cstdint>

#include "qelrpc.h"

namespace qelrpc::rpc {

int getProgramPort(RpcOperation& op, uint32_t prog, uint32_t vers, int reserved) noexcept;
int buildPmapGetPort(MbufCursor& stream, const mapping& m) noexcept;

}  // namespace qelrpc::rpc
