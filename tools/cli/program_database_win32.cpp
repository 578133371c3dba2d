// SPDX-License-Identifier: MIT
// Windows keeps no RPC program database: the tool's own table answers.
#include "program_database.h"

namespace qelrpc::cli {

std::optional<std::string> systemProgramName(uint32_t) { return std::nullopt; }
std::optional<uint32_t> systemProgramNumber(const std::string&) { return std::nullopt; }

}  // namespace qelrpc::cli
