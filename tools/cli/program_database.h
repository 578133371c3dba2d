// SPDX-License-Identifier: MIT
// The system's RPC program database (/etc/rpc through the C library on
// Linux); Windows has none, and there the tool's own table is all.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qelrpc::cli {

// The official name of a program number, or nothing when the database has
// no entry (or there is no database).
std::optional<std::string> systemProgramName(uint32_t number);

// The number of a program's official name or alias, exactly as written
// there (the database's names are case-sensitive).
std::optional<uint32_t> systemProgramNumber(const std::string& name);

}  // namespace qelrpc::cli
