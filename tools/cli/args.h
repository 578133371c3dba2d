// SPDX-License-Identifier: MIT
// Command-line options: a small parser shared by every command. Options may
// stand before, between or after the positional arguments; "--" ends them;
// "--name=value" and "--name value" are the same; a word such as "-1" that
// starts with a digit after the dash is a positional argument (ids can be
// negative).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qelrpc::cli {

struct OptionSpec {
    const char* longName;   // without the dashes
    char shortName;         // 0: none
    const char* valueName;  // null: a flag without a value
    const char* help;
};

struct ParsedOptions {
    std::map<std::string, std::string> values;  // long name -> value ("" for a flag)
    std::vector<std::string> positional;
    bool has(const std::string& name) const { return values.count(name) != 0; }
    const std::string* value(const std::string& name) const {
        auto it = values.find(name);
        return it == values.end() ? nullptr : &it->second;
    }
};

// Parses words against the options; an error text when an option is
// unknown, lacks its value, has a value it does not take, or is repeated.
bool parseOptions(std::span<const OptionSpec> options, std::span<const std::string> words, ParsedOptions& out,
                  std::string& error);

// Numbers as written on the command line: decimal, or hexadecimal after 0x.
// No sign for the unsigned forms, nothing after the digits, no overflow.
std::optional<uint32_t> parseUnsigned32(std::string_view text);
std::optional<int32_t> parseSigned32(std::string_view text);
// Seconds with an optional fraction, "2" or "0.5".
std::optional<double> parseSeconds(std::string_view text);

}  // namespace qelrpc::cli
