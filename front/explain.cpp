#include <morvik/front/explain.h>

#include <cstdio>

#include <morvik/code_page.h>

namespace morvik::front {
namespace {

std::string Quote(std::string_view chars) {
    std::string s;
    for (char c : chars) s += (s.empty() ? "" : " ") + Describe(c);
    return s;
}

std::string Plural(std::uint64_t n, const char* one, const char* many) {
    return Decimal(n) + " " + (n == 1 ? one : many);
}

// A tail mark, saying so when it is a line break: text saved by an editor
// ends in one, which the object reads as the mark.
std::string Mark(char c) {
    return Describe(c) + (c == '\n' || c == '\r' ? " (a line break)" : "");
}

// "U+4E2D".
std::string CodePoint(char32_t c) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
    return code;
}

// What a character with no byte lacks: "has no Windows-1252 byte", "has no
// byte in the ANSI code page 932".
std::string NoByte() {
    const std::string page = SystemCodePage().Name();
    return "has no " + (page == "Windows-1252" ? page + " byte" : "byte in " + page);
}

}  // namespace

std::string Decimal(long long n) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%lld", n);
    return buf;
}

std::string Describe(char c) {
    const auto b = static_cast<unsigned char>(c);
    char buf[16];
    if (b >= 0x20 && b < 0x7F) std::snprintf(buf, sizeof buf, "'%c'", c);
    else std::snprintf(buf, sizeof buf, "byte 0x%02X", b);
    return buf;
}

std::string Explain(const Error& error, const std::string& subject) {
    using Kind = ErrorPosition::Kind;
    const ErrorPosition& at = error.position();
    switch (at.kind) {
        case Kind::IncompleteBlock:
            return subject + " is " + Plural(at.offset + at.size, "byte", "bytes") +
                   " long, not a multiple of 8: the block at byte offset " + Decimal(at.offset) +
                   " has only " + Plural(at.size, "byte", "bytes");
        case Kind::Group: {
            const std::string group = subject + ": group " + Decimal(at.group) + " (characters " +
                                      Decimal(at.character) + " to " +
                                      Decimal(at.character + at.size - 1) + ": " +
                                      Quote(std::string_view(at.chars, at.size)) + ") ";
            if (!at.final_group) return group + "is above 16777215, too large for three bytes";
            return group + "is too large for the " + Plural(at.bytes, "byte", "bytes") + " that the tail mark " +
                   Mark(at.mark) + " gives the final group";
        }
        case Kind::TailMark:
            return subject + ": the tail mark " + Mark(at.mark) + " (character " + Decimal(at.character) +
                   ") has the value " + Decimal(at.value) + "; a tail mark must be 0 to 4";
        case Kind::MalformedUtf8:
            return subject + ": malformed UTF-8 at byte offset " + Decimal(at.offset);
        case Kind::Unmappable:
            return subject + ": character " + Decimal(at.character) + " (" + CodePoint(at.code_point) + ") " +
                   NoByte();
        case Kind::None: break;
    }
    return subject + ": " + error.what();
}

Failure Explained(const Error& error, const std::string& subject) {
    const Exit status = error.number() == ErrorNumber::InvalidArgument ? Exit::Invalid
                        : error.number() == ErrorNumber::Overflow      ? Exit::Overflow
                                                                       : Exit::Internal;
    return Failure(status, Explain(error, subject), error.position());
}

Failure ExplainedAt(const Error& error, const std::string& place) {
    const ErrorPosition& at = error.position();
    if (at.kind == ErrorPosition::Kind::MalformedUtf8)
        return Failure(Exit::Overflow, place + ": malformed UTF-8", at);
    if (at.kind == ErrorPosition::Kind::Unmappable)
        return Failure(Exit::Overflow, place + ": character " + CodePoint(at.code_point) + " " + NoByte(), at);
    return Explained(error, place);
}

std::string LineBreakHint() { return " (the text ends with a line break, which counts as part of it)"; }

}  // namespace morvik::front
