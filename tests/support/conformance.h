// The one table of cases for every front (tests/data/conformance.vec), read
// once for the C++ runners: the library's, the C interface's, the tool's and
// the COM client's. See the file for its columns.
#pragma once

#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/vec.h"

namespace morvik::test {

struct ConformanceCase {
    int         line = 0;
    std::string fronts;
    bool        encrypt = false;
    std::string key;       // bytes
    int         bits = 0;
    std::string form;      // raw, hex, asc
    std::string input;     // bytes (plaintext or raw ciphertext) or the text as written
    std::string expected;  // bytes, or text for an encrypted text form
    int         error = 0; // the expected error number, 0 for none
    std::string kind;      // the position's kind, "" if not given
    std::uint64_t place = 0;  // its offset or character

    // Whether the row applies to `front` (cpp, c, python, tool, tool-text, com).
    bool For(const std::string& front) const {
        const auto listed = [&](const std::string& list) { return ("," + list + ",").find("," + front + ",") != std::string::npos; };
        if (fronts == "all") return front != "tool-text";
        if (fronts[0] == '!') return front != "tool-text" && !listed(fronts.substr(1));
        return listed(fronts);
    }
    std::string Where() const { return "conformance.vec line " + std::to_string(line); }
};

inline std::vector<ConformanceCase> ReadConformance(const std::string& path) {
    std::vector<ConformanceCase> rows;
    for (const VecCase& v : ReadVecFile(path)) {
        const auto& f = v.fields;
        if (f.size() != 7 && !(f.size() >= 8 && f[6] == "error"))
            throw std::runtime_error("conformance.vec line " + std::to_string(v.line) + ": bad row");
        ConformanceCase c;
        c.line = v.line;
        c.fronts = f[0];
        c.encrypt = f[1] == "encrypt";
        c.key = Unhex(f[2]);
        c.bits = std::stoi(f[3]);
        c.form = f[4];
        c.input = c.encrypt || c.form == "raw" ? Unhex(f[5]) : f[5];
        if (f[6] == "error") {
            c.error = std::stoi(f.at(7));
            if (f.size() > 9) c.kind = f[8], c.place = std::stoull(f[9]);
        } else {
            c.expected = c.encrypt && c.form != "raw" ? f[6] : Unhex(f[6]);
        }
        rows.push_back(c);
    }
    return rows;
}

// How the tool and the C interface word the place: the explanation names the
// byte offset or the character.
inline std::string PlaceWords(const ConformanceCase& c) {
    if (c.kind == "incomplete_block") return "byte offset " + std::to_string(c.place);
    if (c.kind == "group") return "(characters " + std::to_string(c.place) + " to";
    if (c.kind.empty()) return "";
    return "character " + std::to_string(c.place);
}

}  // namespace morvik::test
