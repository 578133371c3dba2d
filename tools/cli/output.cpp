// SPDX-License-Identifier: MIT
#include "output.h"

#include <cstdio>

namespace qelrpc::cli {

std::string jsonQuote(std::string_view text) {
    std::string q = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': q += "\\\""; break;
            case '\\': q += "\\\\"; break;
            case '\n': q += "\\n"; break;
            case '\r': q += "\\r"; break;
            case '\t': q += "\\t"; break;
            case '\b': q += "\\b"; break;
            case '\f': q += "\\f"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    q += buf;
                } else {
                    // Bytes above 0x7F pass as they are: names from a server
                    // are usually UTF-8 already.
                    q += static_cast<char>(c);
                }
        }
    }
    return q + "\"";
}

void JsonWriter::separate() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!first_.empty()) {
        if (!first_.back()) out_ += ',';
        first_.back() = false;
    }
}

JsonWriter& JsonWriter::beginObject() {
    separate();
    out_ += '{';
    first_.push_back(true);
    return *this;
}
JsonWriter& JsonWriter::endObject() {
    out_ += '}';
    first_.pop_back();
    return *this;
}
JsonWriter& JsonWriter::beginArray() {
    separate();
    out_ += '[';
    first_.push_back(true);
    return *this;
}
JsonWriter& JsonWriter::endArray() {
    out_ += ']';
    first_.pop_back();
    return *this;
}
JsonWriter& JsonWriter::key(std::string_view name) {
    separate();
    out_ += jsonQuote(name);
    out_ += ':';
    afterKey_ = true;
    return *this;
}
JsonWriter& JsonWriter::value(std::string_view text) {
    separate();
    out_ += jsonQuote(text);
    return *this;
}
JsonWriter& JsonWriter::value(int64_t number) {
    separate();
    out_ += std::to_string(number);
    return *this;
}
JsonWriter& JsonWriter::value(double number) {
    separate();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", number);
    out_ += buf;
    return *this;
}
JsonWriter& JsonWriter::value(bool flag) {
    separate();
    out_ += flag ? "true" : "false";
    return *this;
}
JsonWriter& JsonWriter::null() {
    separate();
    out_ += "null";
    return *this;
}

int reportFailure(const Output& out, std::string_view what, StatusFamily family, int status) {
    const std::string meaning = describeStatus(family, status);
    if (out.json) {
        JsonWriter j;
        j.beginObject()
            .key("command").value(out.command)
            .key("ok").value(false)
            .key("error").value(what)
            .key("status").value(static_cast<int64_t>(status))
            .key("status_family").value(familyName(family))
            .key("status_text").value(meaning)
            .endObject();
        std::printf("%s\n", j.text().c_str());
        std::fflush(stdout);
    } else {
        std::fprintf(stderr, "qelrpc %s: %.*s: status %d (%s): %s\n", out.command.c_str(),
                     static_cast<int>(what.size()), what.data(), status, familyName(family), meaning.c_str());
    }
    return 1;
}

int reportError(const Output& out, std::string_view what) {
    if (out.json) {
        JsonWriter j;
        j.beginObject().key("command").value(out.command).key("ok").value(false).key("error").value(what).endObject();
        std::printf("%s\n", j.text().c_str());
        std::fflush(stdout);
    } else {
        std::fprintf(stderr, "qelrpc %s: %.*s\n", out.command.c_str(), static_cast<int>(what.size()), what.data());
    }
    return 1;
}

std::string dottedAddress(uint32_t networkOrder) {
    const auto* b = reinterpret_cast<const unsigned char*>(&networkOrder);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." + std::to_string(b[3]);
}

}  // namespace qelrpc::cli
