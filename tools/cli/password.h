// SPDX-License-Identifier: MIT
// Reading a password: from the terminal without echo, or one line from
// standard input when that is not a terminal (scripts, pipes).
#pragma once

#include <string>

namespace qelrpc::cli {

// Reads at most maxLength characters (a longer line is refused). The prompt
// goes to standard error, and only when reading from a terminal. False when
// nothing could be read.
bool readPassword(const std::string& prompt, std::string& password, size_t maxLength);

// Overwrites the password's characters before it is released.
void wipe(std::string& secret);

}  // namespace qelrpc::cli
