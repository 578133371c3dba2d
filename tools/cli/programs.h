// SPDX-License-Identifier: MIT
// Program numbers and the names people know them by: the tool's own table
// of the suite's programs, and the system's RPC program database (/etc/rpc
// on Linux, as rpcinfo reads it), which is all there is for the others
// (on Windows only the table).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qelrpc::cli {

struct ProgramName {
    const char* name;
    uint32_t number;
};

// The tool's own table; the first name of a number is the one shown.
std::span<const ProgramName> knownPrograms();

// A program given as a number (decimal or 0x hexadecimal), as a name or
// alias of the system's database (exactly as written there), or as a name
// of the tool's own table (case-insensitive).
std::optional<uint32_t> parseProgram(std::string_view text);

// The name shown for a program number: the tool's own for the programs of
// its table, else the database's official name, else nothing.
std::optional<std::string> programName(uint32_t number);

// The tool's own table alone (what Windows shows).
const char* builtInProgramName(uint32_t number);
std::optional<uint32_t> parseBuiltInProgram(std::string_view text);

}  // namespace qelrpc::cli
