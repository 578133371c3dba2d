// SPDX-License-Identifier: MIT
// errno to Windows Sockets numbers, for the POSIX side of the platform layer.
#pragma once

namespace qelrpc::platform {

// Maps an errno value through the table of platform/socket_errors.h; 0 stays
// 0 and a value without a counterpart becomes sockerr::kSystemCallFailure.
int mapSocketErrno(int e) noexcept;

}  // namespace qelrpc::platform
