// SPDX-License-Identifier: MIT
#include "programs.h"

#include <cctype>

#include "args.h"
#include "program_database.h"

namespace qelrpc::cli {

namespace {

constexpr ProgramName kPrograms[] = {
    {"portmapper", 100000u},
    {"rpcbind", 100000u},
    {"pcnfsd", 150001u},
    {"qelnfsd", 0x2F00DBADu},
};

bool sameWord(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

std::span<const ProgramName> knownPrograms() { return kPrograms; }

std::optional<uint32_t> parseBuiltInProgram(std::string_view text) {
    for (const auto& p : kPrograms)
        if (sameWord(text, p.name)) return p.number;
    return std::nullopt;
}

const char* builtInProgramName(uint32_t number) {
    for (const auto& p : kPrograms)
        if (p.number == number) return p.name;
    return nullptr;
}

std::optional<uint32_t> parseProgram(std::string_view text) {
    if (auto n = parseUnsigned32(text)) return n;
    if (text.empty()) return std::nullopt;
    if (auto n = systemProgramNumber(std::string(text))) return n;
    return parseBuiltInProgram(text);
}

std::optional<std::string> programName(uint32_t number) {
    // The suite's own programs by the names the tool takes and its users
    // know, whatever another entry in the database calls their numbers
    // (for the portmapper and PCNFSD the two agree).
    if (const char* n = builtInProgramName(number)) return std::string(n);
    return systemProgramName(number);
}

}  // namespace qelrpc::cli
