#include "stages.h"

#include <algorithm>
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

namespace {

// The length of the UTF-8 sequence that `lead` starts (1 for a byte that
// starts none, which the conversion then refuses).
std::size_t SequenceLength(unsigned char lead) {
    return lead >= 0xF0 && lead <= 0xF7 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
}

}  // namespace

void FromUtf8Stage::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        // Complete the sequence the last piece ended in.
        if (!pending_.empty()) {
            const std::size_t want = SequenceLength(static_cast<unsigned char>(pending_[0]));
            const std::size_t take = std::min(want - pending_.size(), bytes.size());
            pending_.append(bytes.substr(0, take));
            bytes.remove_prefix(take);
            if (pending_.size() < want) return;
            const std::string whole = std::move(pending_);
            pending_.clear();
            Convert(whole);
            continue;
        }
        std::string_view piece = bytes.substr(0, kChunkSize);
        bytes.remove_prefix(piece.size());
        // Hold back a sequence cut by the end of the piece.
        for (std::size_t back = 1; back <= std::min<std::size_t>(3, piece.size()); ++back) {
            const auto b = static_cast<unsigned char>(piece[piece.size() - back]);
            if ((b & 0xC0) == 0x80) continue;  // a continuation byte: look further back
            if (SequenceLength(b) > back) {
                pending_.assign(piece.substr(piece.size() - back));
                piece.remove_suffix(back);
            }
            break;
        }
        Convert(piece);
    }
}

void FromUtf8Stage::Finish() {
    if (!pending_.empty()) Convert(pending_);  // fails: a truncated sequence
    next_.Finish();
}

void FromUtf8Stage::Convert(std::string_view text) {
    try {
        out_ = platform::TextBytes(text, "the input");
    } catch (const Failure& whole) {
        // Find the character that failed, one sequence at a time, to name its
        // place in the whole input rather than in this piece.
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t n = std::min(SequenceLength(static_cast<unsigned char>(text[at])), text.size() - at);
            const std::string place =
                "the input at byte offset " + std::to_string(offset_ + at) + " (line " + std::to_string(line_) + ")";
            try {
                platform::TextBytes(text.substr(at, n), place);
            } catch (const Failure& one) {
                std::string message = one.what();
                // "...: character 1 (U+4E2D) has no ..." says nothing more here.
                const std::string first = ": character 1 (";
                if (const auto p = message.find(first); p != std::string::npos) {
                    message.replace(p, first.size(), ": character ");
                    if (const auto close = message.find(')', p); close != std::string::npos) message.erase(close, 1);
                }
                if (const auto p = message.find(": malformed UTF-8 at byte offset "); p != std::string::npos)
                    message = place + ": malformed UTF-8";
                throw Failure(one.status(), message);
            }
            if (text[at] == '\n') ++line_;
            at += n;
        }
        throw;
    }
    for (char c : text) line_ += c == '\n';
    offset_ += text.size();
    next_.Write(out_);
}

}  // namespace morvik::cli
