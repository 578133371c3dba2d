// SPDX-License-Identifier: MIT
// docs/ERRORS.md against the status table (platform/status_table.h): every
// code the document's tables list, section by section, is a row or a rule of
// the table, and every row and rule is listed, so the two cannot drift apart.
// The library's constants and the tool's texts are expanded from the same
// table.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/status_table.h"

namespace {

enum class Family { Buffer, Operation, Call, GssCallHeader, PortLookup, Broadcast, Server, NameService, Authorize, Gss, Sockets };

struct Row {
    Family family;
    long long number;
    const char* text;
};
struct Rule {
    Family family;
    int base;
    const char* form;
};

#define TEST_ROW(family, number, text, ...) Row{Family::family, number, text},
#define TEST_RULE(family, name, base, form, text) Rule{Family::family, base, form},
const Row kRows[] = {QELRPC_STATUS_TABLE(TEST_ROW, QELRPC_STATUS_NO_RULE)};
const Rule kRules[] = {QELRPC_STATUS_TABLE(QELRPC_STATUS_NO_ROW, TEST_RULE)};
#undef TEST_ROW
#undef TEST_RULE

// The section of docs/ERRORS.md that lists a code: success, the Win32 and
// Windows Sockets numbers and the composed codes have sections of their own,
// the library's small negative codes one per group of functions.
std::string section(Family f, long long number) {
    if (number == 0) return "Success";
    if (f == Family::Sockets) return "Windows Sockets error numbers";
    if (number >= 100000) return "Offsets that tell which step failed";
    if (number > 0) return "Win32 error numbers";
    switch (f) {
        case Family::Buffer: return "Message buffer, writers and readers";
        case Family::Operation:
        case Family::Call:
        case Family::PortLookup: return "Operations, headers, exchanges, call driver";
        case Family::Broadcast: return "Broadcast";
        case Family::Server: return "Server side";
        case Family::NameService:
        case Family::Authorize: return "User and group services";
        case Family::GssCallHeader:
        case Family::Gss: return "RPCSEC_GSS";
        case Family::Sockets: break;
    }
    return "?";
}

using Listing = std::set<std::pair<std::string, std::string>>;  // (section, code or rule)

Listing tableListing() {
    Listing out;
    for (const Row& r : kRows) out.emplace(section(r.family, r.number), std::to_string(r.number));
    for (const Rule& r : kRules) out.emplace(section(r.family, r.base), r.form);
    return out;
}

std::vector<std::string> cells(const std::string& line) {
    std::vector<std::string> out;
    std::stringstream in(line.substr(1));
    std::string cell;
    while (std::getline(in, cell, '|')) {
        const auto first = cell.find_first_not_of(' ');
        const auto last = cell.find_last_not_of(' ');
        out.push_back(first == std::string::npos ? "" : cell.substr(first, last - first + 1));
    }
    return out;
}

// The codes of a markdown document's tables, under the heading above each.
// A table lists codes when its first column is `code`; a table with an `e`
// column shows examples of a rule, and a row that says "see ..." points to
// another section. A code is a number (− or - for minus) or a rule's form
// ("−4 − n", "200000 + e"); one cell may list several, comma-separated.
Listing documentedListing(std::istream& doc) {
    const std::regex number("^(−|-)?[0-9]+$");
    Listing out;
    std::string heading, line;
    std::vector<std::string> header;
    bool inTable = false;
    while (std::getline(doc, line)) {
        if (line.rfind("#", 0) == 0) {
            heading = line.substr(line.find_first_not_of('#'));
            heading.erase(0, heading.find_first_not_of(' '));
        }
        if (line.rfind("|", 0) != 0) {
            inTable = false;
            continue;
        }
        const std::vector<std::string> row = cells(line);
        if (!inTable) {
            header = row;
            inTable = true;
            continue;
        }
        if (row.empty() || row[0].rfind("---", 0) == 0) continue;
        if (header.empty() || header[0] != "code") continue;
        if (std::find(header.begin(), header.end(), "e") != header.end()) continue;
        if (row.size() > 1 && row[1].rfind("see ", 0) == 0) continue;
        std::stringstream codes(row[0]);
        std::string code;
        while (std::getline(codes, code, ',')) {
            code.erase(0, code.find_first_not_of(' '));
            // The document writes a minus sign (U+2212); the table, ASCII '-'.
            static const std::string minus = "−";
            if (std::regex_match(code, number) && code.rfind(minus, 0) == 0) {
                code.erase(0, minus.size());
                code.insert(code.begin(), '-');
            }
            out.emplace(heading, code);
        }
    }
    return out;
}

std::string describe(const Listing& l) {
    std::string s;
    for (const auto& [where, code] : l) s += "  " + where + ": " + code + "\n";
    return s;
}

TEST(StatusTable, ErrorsDocumentListsEveryCodeAndNothingElse) {
    std::ifstream doc(QELRPC_ERRORS_MD);
#ifdef _WIN32
    if (!doc) GTEST_SKIP() << "docs/ERRORS.md is checked by the build for the host";
#endif
    ASSERT_TRUE(doc) << QELRPC_ERRORS_MD;
    const Listing documented = documentedListing(doc);
    const Listing table = tableListing();
    Listing onlyDocumented, onlyTable;
    std::set_difference(documented.begin(), documented.end(), table.begin(), table.end(),
                        std::inserter(onlyDocumented, onlyDocumented.end()));
    std::set_difference(table.begin(), table.end(), documented.begin(), documented.end(),
                        std::inserter(onlyTable, onlyTable.end()));
    EXPECT_TRUE(onlyDocumented.empty()) << "documented, not in platform/status_table.h:\n" << describe(onlyDocumented);
    EXPECT_TRUE(onlyTable.empty()) << "in platform/status_table.h, not in docs/ERRORS.md:\n" << describe(onlyTable);
    // Every section the table names was found, so a renamed heading fails
    // here rather than passing with nothing compared.
    std::set<std::string> sections;
    for (const auto& [where, code] : table) sections.insert(where);
    for (const std::string& s : sections)
        EXPECT_TRUE(std::any_of(documented.begin(), documented.end(), [&](const auto& d) { return d.first == s; }))
            << "no section \"" << s << "\"";
}

// The reader of the document: what counts as a listed code and what not.
TEST(StatusTable, DocumentReaderTakesCodesRulesAndListsOnly) {
    std::istringstream doc(R"(# Codes
| function | result |
|---|---|
| `f` | 1 success |

## Server side

| code | meaning | returned by |
|---|---|---|
| −1 | null | `g` |
| −4 − n | accept status n | `h` |
| 10061 | refused | `h` |
Some prose | with a bar.

## Offsets

| code | meaning | returned by |
|---|---|---|
| s − 100, s − 200 | see RPCSEC_GSS above | set-up |
| 200000 + e | the TCP question failed | `GetProgramPort` |

| code | e | meaning |
|---|---|---|
| 199999 | −1 | silence |
)");
    const Listing expected = {{"Server side", "-1"},
                              {"Server side", "−4 − n"},
                              {"Server side", "10061"},
                              {"Offsets", "200000 + e"}};
    EXPECT_EQ(documentedListing(doc), expected);
}

// One number per family: a second row for the same code would give the
// tool two texts and the document one line.
TEST(StatusTable, EachCodeOnceInItsFamily) {
    std::set<std::pair<Family, long long>> seen;
    for (const Row& r : kRows) {
        EXPECT_TRUE(seen.emplace(r.family, r.number).second)
            << "family " << static_cast<int>(r.family) << " code " << r.number << " twice";
        EXPECT_GT(std::string(r.text).size(), 5u) << r.number;
    }
}

}  // namespace
