// Reader for the vector files in tests/data: sections in brackets, one case a
// line of fields, "#" comments. A field is a bare word or a quoted text with C
// escapes (\t \n \r \\ \" \xHH).
#pragma once

#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace morvik::test {

struct VecCase {
    std::string section;
    int line = 0;
    std::vector<std::string> fields;
    std::string file;  // the file's name, for messages

    std::string Where() const { return file + " line " + std::to_string(line); }
};

// A file of tests/data.
std::string DataPath(const std::string& name);

// A vector file named by its path (for programs that find the data their own way).
inline std::vector<VecCase> ReadVecFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + name);
    std::vector<VecCase> cases;
    std::string section, line;
    const std::string file = name.substr(name.find_last_of("/\\") + 1);
    for (int number = 1; std::getline(in, line); ++number) {
        std::size_t i = line.find_first_not_of(" \t");
        if (i == std::string::npos || line[i] == '#') continue;
        if (line[i] == '[') {
            section = line.substr(i + 1, line.find(']') - i - 1);
            continue;
        }
        VecCase c{section, number, {}, file};
        while (i < line.size()) {
            if (line[i] == ' ' || line[i] == '\t') { ++i; continue; }
            if (line[i] == '#') break;
            std::string field;
            if (line[i] == '"') {
                for (++i; i < line.size() && line[i] != '"'; ++i) {
                    if (line[i] != '\\') { field += line[i]; continue; }
                    const char e = line.at(++i);
                    if (e == 't') field += '\t';
                    else if (e == 'n') field += '\n';
                    else if (e == 'r') field += '\r';
                    else if (e == 'x') { field += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16)); i += 2; }
                    else field += e;
                }
                if (i >= line.size()) throw std::runtime_error(name + ": unterminated text on line " + std::to_string(number));
                ++i;
            } else {
                while (i < line.size() && line[i] != ' ' && line[i] != '\t') field += line[i++];
            }
            c.fields.push_back(field);
        }
        cases.push_back(c);
    }
    return cases;
}

inline std::vector<VecCase> ReadVec(const std::string& name) { return ReadVecFile(DataPath(name)); }

// Strict hex for test data; "-" is the empty string.
inline std::string Unhex(const std::string& h) {
    if (h == "-") return {};
    if (h.size() % 2) throw std::runtime_error("odd hex in test data: " + h);
    std::string out;
    for (std::size_t i = 0; i < h.size(); i += 2) out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
    return out;
}

inline std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) { out += digits[b >> 4]; out += digits[b & 15]; }
    return out;
}

}  // namespace morvik::test
