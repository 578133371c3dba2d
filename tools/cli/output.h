// SPDX-License-Identifier: MIT
// Output for people and for scripts: plain lines, or JSON built with a small
// writer (objects and arrays, strings escaped as JSON requires).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "status_text.h"

namespace qelrpc::cli {

// A JSON string literal, quotes included.
std::string jsonQuote(std::string_view text);

// Builds one JSON value; commas and nesting are handled by the writer.
class JsonWriter {
  public:
    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& key(std::string_view name);
    JsonWriter& value(std::string_view text);
    JsonWriter& value(const char* text) { return value(std::string_view(text)); }
    JsonWriter& value(int64_t number);
    JsonWriter& value(uint32_t number) { return value(static_cast<int64_t>(number)); }
    JsonWriter& value(int32_t number) { return value(static_cast<int64_t>(number)); }
    JsonWriter& value(double number);
    JsonWriter& value(bool flag);
    JsonWriter& null();
    const std::string& text() const { return out_; }

  private:
    void separate();
    std::string out_;
    std::vector<bool> first_;  // per open container: nothing written in it yet
    bool afterKey_ = false;
};

// Where a command's output goes and in which form.
struct Output {
    bool json = false;
    std::string command;
};

// Reports a failed library call: plain, "qelrpc COMMAND: WHAT: status N (FAMILY): TEXT"
// on standard error; JSON, an object with ok false, the status and its text
// on standard output. Returns the exit status 1.
int reportFailure(const Output& out, std::string_view what, StatusFamily family, int status);

// Reports a failure that has no library status (a host that cannot be
// resolved, a password that cannot be read). Returns 1.
int reportError(const Output& out, std::string_view what);

// An IPv4 address in network byte order, dotted.
std::string dottedAddress(uint32_t networkOrder);

}  // namespace qelrpc::cli
