// Program numbers and the names people know them by.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace qelrpc::cli {

struct ProgramName {
    const char* name;
    uint32_t number;
};

// The names accepted on the command line; the first name of a number is the
// one shown.
std::span<const ProgramName> knownPrograms();

// A program given as a number (decimal or 0x hexadecimal) or as a known
// name, case-insensitive.
std::optional<uint32_t> parseProgram(std::string_view text);

// The name shown for a program number, or null when it has none.
const char* programName(uint32_t number);

}  // namespace qelrpc::cli
