#include "stages.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include <morvik/blind_ascii.h>
#include <morvik/hex.h>
#include "failure.h"
#include <morvik/cp1252.h>

namespace morvik::cli {
namespace {

using Bytes = const std::uint8_t*;

Bytes In(std::string_view s) { return reinterpret_cast<Bytes>(s.data()); }
std::uint8_t* Out(std::string& s) { return reinterpret_cast<std::uint8_t*>(s.data()); }

template <char C>
std::string_view Run(std::uint64_t count) {
    static const std::string run(kChunkSize, C);
    return std::string_view(run).substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(count, kChunkSize)));
}

std::string Quote(std::string_view chars) {
    std::string s;
    for (char c : chars) s += (s.empty() ? "" : " ") + Describe(c);
    return s;
}

}  // namespace

std::string Describe(char c) {
    const auto b = static_cast<unsigned char>(c);
    char buf[16];
    if (b >= 0x20 && b < 0x7F) std::snprintf(buf, sizeof buf, "'%c'", c);
    else std::snprintf(buf, sizeof buf, "byte 0x%02X", b);
    return buf;
}

// ---- Encrypt --------------------------------------------------------------

void EncryptStage::Write(std::string_view bytes) {
    if (!carry_.empty()) {
        const std::size_t take = std::min(RC2::kBlockSize - carry_.size(), bytes.size());
        carry_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (carry_.size() < RC2::kBlockSize) return;
        Blocks(carry_);
        carry_.clear();
    }
    const std::size_t whole = bytes.size() / RC2::kBlockSize * RC2::kBlockSize;
    Blocks(bytes.substr(0, whole));
    carry_.assign(bytes.substr(whole));
}

void EncryptStage::Blocks(std::string_view whole) {
    while (!whole.empty()) {
        const std::size_t n = std::min(whole.size(), kChunkSize);
        out_.resize(n);
        rc2_.EncryptBlocks(In(whole), Out(out_), n / RC2::kBlockSize);
        next_.Write(out_);
        whole.remove_prefix(n);
    }
}

void EncryptStage::Finish() {
    if (!carry_.empty()) {
        carry_.resize(RC2::kBlockSize, '\0');
        Blocks(carry_);
        carry_.clear();
    }
    next_.Finish();
}

// ---- Decrypt --------------------------------------------------------------

void DecryptStage::Write(std::string_view bytes) {
    length_ += bytes.size();
    if (blank_) {
        // A ciphertext of spaces only decrypts to nothing, so spaces are only
        // counted until something else shows that this one is not blank.
        if (bytes.find_first_not_of(' ') == std::string_view::npos) {
            spaces_ += bytes.size();
            return;
        }
        blank_ = false;
        for (; spaces_ > 0; spaces_ -= Run<' '>(spaces_).size()) Blocks(Run<' '>(spaces_));
    }
    Blocks(bytes);
}

void DecryptStage::Blocks(std::string_view bytes) {
    if (!carry_.empty()) {
        const std::size_t take = std::min(RC2::kBlockSize - carry_.size(), bytes.size());
        carry_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (carry_.size() < RC2::kBlockSize) return;
        out_.resize(RC2::kBlockSize);
        rc2_.DecryptBlocks(In(carry_), Out(out_), 1);
        carry_.clear();
        Emit(out_);
    }
    while (bytes.size() >= RC2::kBlockSize) {
        const std::size_t n = std::min(bytes.size() / RC2::kBlockSize * RC2::kBlockSize, kChunkSize);
        out_.resize(n);
        rc2_.DecryptBlocks(In(bytes), Out(out_), n / RC2::kBlockSize);
        Emit(out_);
        bytes.remove_prefix(n);
    }
    carry_.assign(bytes);
}

// Zero bytes are passed on only once a non-zero byte follows them: every zero
// at the very end goes.
void DecryptStage::Emit(std::string_view plain) {
    const std::size_t last = plain.find_last_not_of('\0');
    if (last == std::string_view::npos) {
        zeros_ += plain.size();
        return;
    }
    for (; zeros_ > 0; zeros_ -= Run<'\0'>(zeros_).size()) next_.Write(Run<'\0'>(zeros_));
    next_.Write(plain.substr(0, last + 1));
    zeros_ = plain.size() - last - 1;
}

void DecryptStage::Finish() {
    if (!blank_ && !carry_.empty()) {
        throw Failure(Exit::Invalid, what_ + " is " + std::to_string(length_) + (length_ == 1 ? " byte" : " bytes") +
                                         " long, not a multiple of 8: the block at byte offset " +
                                         std::to_string(length_ - carry_.size()) + " has only " +
                                         std::to_string(carry_.size()) + (carry_.size() == 1 ? " byte" : " bytes"));
    }
    zeros_ = 0;
    next_.Finish();
}

// ---- Hex ------------------------------------------------------------------

void HexWriteStage::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::string_view piece = bytes.substr(0, kChunkSize / 2);
        out_.clear();
        hex::WriteTo(piece, out_);
        next_.Write(out_);
        bytes.remove_prefix(piece.size());
    }
}

void HexReadStage::Write(std::string_view text) {
    if (text.empty()) return;
    out_.clear();
    if (!odd_.empty()) {
        odd_ += text.front();
        text.remove_prefix(1);
        hex::ReadTo(odd_, out_);
        odd_.clear();
    }
    // Pairs are read from the start of the whole text, so a piece of odd
    // length keeps its last character for the next piece.
    const std::size_t even = text.size() / 2 * 2;
    for (std::size_t at = 0; at < even;) {
        const std::size_t n = std::min(even - at, 2 * kChunkSize - 2 * out_.size());
        hex::ReadTo(text.substr(at, n), out_);
        next_.Write(out_);
        out_.clear();
        at += n;
    }
    if (!out_.empty()) next_.Write(out_);
    if (even < text.size()) odd_ = text.substr(even);
}

void HexReadStage::Finish() {
    if (!odd_.empty()) {
        out_.clear();
        hex::ReadTo(odd_, out_);  // a single last digit is worth its own value
        odd_.clear();
        next_.Write(out_);
    }
    next_.Finish();
}

// ---- Armour ---------------------------------------------------------------

void AscEncodeStage::Write(std::string_view bytes) {
    // The final group (1 to 3 bytes) is kept back: only it carries the tail mark.
    if (last_.size() + bytes.size() <= 3) {
        last_.append(bytes);
        return;
    }
    if (!last_.empty()) {
        const std::size_t take = 3 - last_.size();
        last_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        Groups(last_);
    }
    const std::size_t keep = bytes.size() % 3 == 0 ? 3 : bytes.size() % 3;
    Groups(bytes.substr(0, bytes.size() - keep));
    last_.assign(bytes.substr(bytes.size() - keep));
}

void AscEncodeStage::Groups(std::string_view whole) {
    constexpr std::size_t kPiece = kChunkSize / 4 * 3;
    while (!whole.empty()) {
        const std::string_view piece = whole.substr(0, kPiece);
        out_.clear();
        BlindAscii::AppendGroups(piece, out_);
        next_.Write(out_);
        whole.remove_prefix(piece.size());
    }
}

void AscEncodeStage::Finish() {
    if (!last_.empty()) next_.Write(BlindAscii::Full2Asc(last_));
    last_.clear();
    next_.Finish();
}

// A group of four is known not to be the final group once two more
// characters have arrived (at least one of the final group, and the tail
// mark), so up to five characters wait in pending_.
void AscDecodeStage::Write(std::string_view text) {
    while (!pending_.empty() && pending_.size() + text.size() >= 6) {
        if (pending_.size() >= 4) {
            Groups(std::string_view(pending_).substr(0, 4));
            pending_.erase(0, 4);
        } else {
            const std::size_t take = 4 - pending_.size();
            pending_.append(text.substr(0, take));
            text.remove_prefix(take);
        }
    }
    if (!pending_.empty()) {
        pending_.append(text);
        return;
    }
    const std::size_t whole = text.size() >= 6 ? (text.size() - 2) / 4 * 4 : 0;
    Groups(text.substr(0, whole));
    pending_.assign(text.substr(whole));
}

void AscDecodeStage::Groups(std::string_view whole) {
    while (!whole.empty()) {
        const std::string_view piece = whole.substr(0, kChunkSize / 3 * 4);
        out_.clear();
        try {
            BlindAscii::AppendGroupsDecoded(piece, out_);
        } catch (const Error&) {
            for (std::size_t at = 0; at < piece.size(); at += 4) {
                std::string scratch;
                try {
                    BlindAscii::AppendGroupsDecoded(piece.substr(at, 4), scratch);
                } catch (const Error&) {
                    GroupTooLarge(groups_ + at / 4 + 1, piece.substr(at, 4), "is above 16777215, too large for three bytes");
                }
            }
            throw;
        }
        groups_ += piece.size() / 4;
        next_.Write(out_);
        whole.remove_prefix(piece.size());
    }
}

void AscDecodeStage::GroupTooLarge(std::uint64_t group, std::string_view chars, const char* why) const {
    const std::uint64_t first = 4 * (group - 1) + 1;
    throw Failure(Exit::Invalid, "armoured text: group " + std::to_string(group) + " (characters " +
                                     std::to_string(first) + " to " + std::to_string(first + chars.size() - 1) +
                                     ": " + Quote(chars) + ") " + why);
}

void AscDecodeStage::Finish() {
    if (!pending_.empty()) {
        std::string bytes;
        try {
            bytes = BlindAscii::Asc2Full(pending_);
        } catch (const Error& e) {
            const char mark = pending_.back();
            const std::string_view body = std::string_view(pending_).substr(0, pending_.size() - 1);
            const int value = BlindAscii::DigitValue(mark);
            const std::uint64_t position = 4 * groups_ + pending_.size();
            if (e.number() == ErrorNumber::Overflow)
                throw Failure(Exit::Overflow, "armoured text: the tail mark " + Describe(mark) + " (character " +
                                                  std::to_string(position) + ") has the value " +
                                                  std::to_string(value) + "; a tail mark must be 0 to 4");
            const std::string count = std::to_string(value == 0 ? 3 : value);
            GroupTooLarge(groups_ + 1, body,
                          ("is too large for the " + count + (count == "1" ? " byte" : " bytes") + " that the tail mark " + Describe(mark) +
                           " gives the final group").c_str());
        }
        pending_.clear();
        next_.Write(bytes);
    }
    next_.Finish();
}

// ---- Text -----------------------------------------------------------------

void Utf8Stage::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::string_view piece = bytes.substr(0, kChunkSize);
        out_ = cp1252::ToUtf8(piece);
        next_.Write(out_);
        bytes.remove_prefix(piece.size());
    }
}

}  // namespace morvik::cli
