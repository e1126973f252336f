#include "stages.h"

#include <cstdio>

#include <morvik/cp1252.h>

#include "platform.h"

namespace morvik::cli {
namespace {

std::string Quote(std::string_view chars) {
    std::string s;
    for (char c : chars) s += (s.empty() ? "" : " ") + Describe(c);
    return s;
}

std::string Plural(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Message(const ErrorPosition& at, const std::string& subject, const char* what) {
    using Kind = ErrorPosition::Kind;
    switch (at.kind) {
        case Kind::IncompleteBlock:
            return subject + " is " + Plural(at.offset + at.size, "byte", "bytes") +
                   " long, not a multiple of 8: the block at byte offset " + std::to_string(at.offset) +
                   " has only " + Plural(at.size, "byte", "bytes");
        case Kind::Group: {
            const std::string group = subject + ": group " + std::to_string(at.group) + " (characters " +
                                      std::to_string(at.character) + " to " +
                                      std::to_string(at.character + at.size - 1) + ": " +
                                      Quote(std::string_view(at.chars, at.size)) + ") ";
            if (!at.final_group) return group + "is above 16777215, too large for three bytes";
            return group + "is too large for the " + Plural(at.bytes, "byte", "bytes") + " that the tail mark " +
                   Describe(at.mark) + " gives the final group";
        }
        case Kind::TailMark:
            return subject + ": the tail mark " + Describe(at.mark) + " (character " + std::to_string(at.character) +
                   ") has the value " + std::to_string(at.value) + "; a tail mark must be 0 to 4";
        case Kind::MalformedUtf8:
            return subject + ": malformed UTF-8 at byte offset " + std::to_string(at.offset);
        case Kind::Unmappable: {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(at.code_point));
            return subject + ": character " + std::to_string(at.character) + " (" + code +
                   ") has no Windows-1252 byte";
        }
        case Kind::None: break;
    }
    return subject + ": " + what;
}

}  // namespace

std::string Describe(char c) {
    const auto b = static_cast<unsigned char>(c);
    char buf[16];
    if (b >= 0x20 && b < 0x7F) std::snprintf(buf, sizeof buf, "'%c'", c);
    else std::snprintf(buf, sizeof buf, "byte 0x%02X", b);
    return buf;
}

Failure Explained(const Error& error, const std::string& subject) {
    const Exit status = error.number() == ErrorNumber::InvalidArgument ? Exit::Invalid
                        : error.number() == ErrorNumber::Overflow      ? Exit::Overflow
                                                                       : Exit::Internal;
    return Failure(status, Message(error.position(), subject, error.what()));
}

void Utf8Stage::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::string_view piece = bytes.substr(0, kChunkSize);
        out_ = platform::BytesToUtf8(piece);
        next_.Write(out_);
        bytes.remove_prefix(piece.size());
    }
}

}  // namespace morvik::cli
