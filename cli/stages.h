// morvik — the streaming stages behind every command.
//
// A command is a chain of stages ending in an output: bytes are pushed in with
// Write() in pieces of any size, and Finish() marks the end of the input. The
// chain's output is byte for byte what the RC2 object's member gives for the
// whole input at once:
//
//   EncryptStage      Encrypt: the final block is filled with zero bytes.
//   DecryptStage      Decrypt: a blank input (spaces only, or nothing) gives
//                     nothing; otherwise every block must be complete, and
//                     every zero byte at the end of the plaintext is dropped.
//   HexWriteStage     hex::Write (ResultHex).
//   HexReadStage      hex::Read, lenient; an odd length ends in a single digit.
//   AscEncodeStage    BlindAscii::Full2Asc (ResultAsc).
//   AscDecodeStage    BlindAscii::Asc2Full, with its tolerance and its errors.
//   Utf8Stage         Windows-1252 bytes to UTF-8 text (cp1252::ToUtf8).
//
// Memory stays bounded whatever the input: a stage holds back at most the
// final partial block (7 bytes), the final group and tail mark (5 characters),
// a single hex digit, or the count (not the bytes) of a run of trailing zeros
// or leading spaces. Failures are thrown as cli::Failure with the exit status
// of their class and a message that says where the input went wrong.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include <morvik/rc2.h>

namespace morvik::cli {

// The largest piece a stage hands on at once.
inline constexpr std::size_t kChunkSize = 64 * 1024;

class Sink {
public:
    virtual ~Sink() = default;
    virtual void Write(std::string_view bytes) = 0;
    // End of input: flush what was held back, then finish the next stage.
    virtual void Finish() = 0;
};

class EncryptStage final : public Sink {
public:
    EncryptStage(const RC2& rc2, Sink& next) : rc2_(rc2), next_(next) {}
    void Write(std::string_view bytes) override;
    void Finish() override;

private:
    void Blocks(std::string_view whole);

    const RC2&  rc2_;
    Sink&       next_;
    std::string carry_;  // a partial block, 0..7 bytes
    std::string out_;
};

class DecryptStage final : public Sink {
public:
    // `what` names the ciphertext in messages ("ciphertext", "the ciphertext
    // read from the hex text", ...).
    DecryptStage(const RC2& rc2, std::string what, Sink& next)
        : rc2_(rc2), next_(next), what_(std::move(what)) {}
    void Write(std::string_view bytes) override;
    void Finish() override;

private:
    void Blocks(std::string_view bytes);
    void Emit(std::string_view plain);
    void Repeat(char byte, std::uint64_t count, bool through_cipher);

    const RC2&    rc2_;
    Sink&         next_;
    std::string   what_;
    bool          blank_  = true;  // nothing but spaces so far
    std::uint64_t spaces_ = 0;     // how many, while blank_
    std::uint64_t length_ = 0;     // ciphertext bytes seen
    std::uint64_t zeros_  = 0;     // trailing zero bytes of plaintext held back
    std::string   carry_;
    std::string   out_;
};

class HexWriteStage final : public Sink {
public:
    explicit HexWriteStage(Sink& next) : next_(next) {}
    void Write(std::string_view bytes) override;
    void Finish() override { next_.Finish(); }

private:
    Sink&       next_;
    std::string out_;
};

class HexReadStage final : public Sink {
public:
    explicit HexReadStage(Sink& next) : next_(next) {}
    void Write(std::string_view text) override;
    void Finish() override;

private:
    Sink&       next_;
    std::string odd_;  // a character waiting for its partner
    std::string out_;
};

class AscEncodeStage final : public Sink {
public:
    explicit AscEncodeStage(Sink& next) : next_(next) {}
    void Write(std::string_view bytes) override;
    void Finish() override;

private:
    void Groups(std::string_view whole);

    Sink&       next_;
    std::string last_;  // the final group, 1..3 bytes, once any input came
    std::string out_;
};

class AscDecodeStage final : public Sink {
public:
    explicit AscDecodeStage(Sink& next) : next_(next) {}
    void Write(std::string_view text) override;
    void Finish() override;

private:
    void Groups(std::string_view whole);
    [[noreturn]] void GroupTooLarge(std::uint64_t group, std::string_view chars, const char* why) const;

    Sink&         next_;
    std::string   pending_;     // up to 5 characters: maybe the final group and the tail mark
    std::uint64_t groups_ = 0;  // groups decoded so far
    std::string   out_;
};

class Utf8Stage final : public Sink {
public:
    explicit Utf8Stage(Sink& next) : next_(next) {}
    void Write(std::string_view bytes) override;
    void Finish() override { next_.Finish(); }

private:
    Sink&       next_;
    std::string out_;
};

// Collects everything in memory; for tests and for short texts.
class StringSink final : public Sink {
public:
    void Write(std::string_view bytes) override { data += bytes; }
    void Finish() override { finished = true; }

    std::string data;
    bool        finished = false;
};

// A character as it may be shown in a message: itself if printable ASCII,
// else its code ("0x0A").
std::string Describe(char c);

}  // namespace morvik::cli
