// SPDX-License-Identifier: MIT
#include "args.h"

#include <cctype>

namespace qelrpc::cli {

namespace {

const OptionSpec* findLong(std::span<const OptionSpec> options, std::string_view name) {
    for (const auto& o : options)
        if (name == o.longName) return &o;
    return nullptr;
}

const OptionSpec* findShort(std::span<const OptionSpec> options, char c) {
    for (const auto& o : options)
        if (o.shortName != 0 && o.shortName == c) return &o;
    return nullptr;
}

bool store(ParsedOptions& out, const OptionSpec& o, std::string value, std::string& error) {
    if (!out.values.emplace(o.longName, std::move(value)).second) {
        error = std::string("option --") + o.longName + " given more than once";
        return false;
    }
    return true;
}

bool digitsOnly(std::string_view t, bool hex) {
    if (t.empty()) return false;
    for (char c : t)
        if (!(hex ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c))))
            return false;
    return true;
}

}  // namespace

bool parseOptions(std::span<const OptionSpec> options, std::span<const std::string> words, ParsedOptions& out,
                  std::string& error) {
    bool optionsEnded = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        const bool looksLikeOption =
            !optionsEnded && w.size() > 1 && w[0] == '-' && !std::isdigit(static_cast<unsigned char>(w[1]));
        if (!looksLikeOption) {
            out.positional.push_back(w);
            continue;
        }
        if (w == "--") {
            optionsEnded = true;
            continue;
        }
        if (w.rfind("--", 0) == 0) {
            const std::string body = w.substr(2);
            const size_t eq = body.find('=');
            const std::string name = body.substr(0, eq);
            const OptionSpec* o = findLong(options, name);
            if (o == nullptr) {
                error = "unknown option --" + name;
                return false;
            }
            std::string value;
            if (o->valueName == nullptr) {
                if (eq != std::string::npos) {
                    error = "option --" + name + " takes no value";
                    return false;
                }
            } else if (eq != std::string::npos) {
                value = body.substr(eq + 1);
            } else if (i + 1 < words.size()) {
                value = words[++i];
            } else {
                error = "option --" + name + " needs a value (" + o->valueName + ")";
                return false;
            }
            if (!store(out, *o, std::move(value), error)) return false;
            continue;
        }
        // One or more short flags ("-t", "-tu"); a short option with a value
        // takes the rest of the word or the next word.
        for (size_t k = 1; k < w.size(); ++k) {
            const OptionSpec* o = findShort(options, w[k]);
            if (o == nullptr) {
                error = std::string("unknown option -") + w[k];
                return false;
            }
            std::string value;
            if (o->valueName != nullptr) {
                if (k + 1 < w.size()) value = w.substr(k + 1);
                else if (i + 1 < words.size()) value = words[++i];
                else {
                    error = std::string("option -") + w[k] + " needs a value (" + o->valueName + ")";
                    return false;
                }
                k = w.size();
            }
            if (!store(out, *o, std::move(value), error)) return false;
        }
    }
    return true;
}

std::optional<uint32_t> parseUnsigned32(std::string_view text) {
    bool hex = false;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        hex = true;
        text.remove_prefix(2);
    }
    if (!digitsOnly(text, hex)) return std::nullopt;
    uint64_t v = 0;
    for (char c : text) {
        const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                   : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        v = v * (hex ? 16 : 10) + static_cast<uint64_t>(d);
        if (v > UINT32_MAX) return std::nullopt;
    }
    return static_cast<uint32_t>(v);
}

std::optional<int32_t> parseSigned32(std::string_view text) {
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) text.remove_prefix(1);
    if (!digitsOnly(text, false)) return std::nullopt;
    const auto magnitude = parseUnsigned32(text);
    if (!magnitude) return std::nullopt;
    const int64_t v = negative ? -static_cast<int64_t>(*magnitude) : static_cast<int64_t>(*magnitude);
    if (v < INT32_MIN || v > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(v);
}

std::optional<double> parseSeconds(std::string_view text) {
    const size_t dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    const std::string_view frac = dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
    if (whole.empty() || !digitsOnly(whole, false) || whole.size() > 6) return std::nullopt;
    if (dot != std::string_view::npos && (frac.empty() || !digitsOnly(frac, false) || frac.size() > 6))
        return std::nullopt;
    double v = 0;
    for (char c : whole) v = v * 10 + (c - '0');
    double scale = 0.1;
    for (char c : frac) {
        v += (c - '0') * scale;
        scale /= 10;
    }
    return v;
}

}  // namespace qelrpc::cli
