// Morvik RC2 fronts — the streaming stages behind every command of the tool
// and every file call of the Python module.
//
// A command is a chain of stages ending in an output: bytes are pushed in with
// Write() in pieces of any size, and Finish() marks the end of the input. Each
// stage is one of the core's streams, whose output is byte for byte what the
// RC2 object's member gives for the whole input at once:
//
//   EncryptStage      EncryptStream (Encrypt)
//   DecryptStage      DecryptStream (Decrypt)
//   HexWriteStage     hex::WriteStream (hex::Write, ResultHex)
//   HexReadStage      hex::ReadStream (hex::Read, lenient)
//   AscEncodeStage    AscEncodeStream (BlindAscii::Full2Asc, ResultAsc)
//   AscDecodeStage    AscDecodeStream (BlindAscii::Asc2Full)
//   Utf8Stage         byte-string bytes to UTF-8 text (SystemCodePage().ToUtf8).
//   FromUtf8Stage     UTF-8 text to byte-string bytes (SystemCodePage().FromUtf8).
//
// Memory stays bounded whatever the input. A stage turns the core's errors
// into front::Failure, with the exit status of their class and a message that
// says where the input went wrong, from the position the error carries.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <morvik/blind_ascii.h>
#include <morvik/error.h>
#include <morvik/hex.h>
#include <morvik/rc2.h>
#include <morvik/sink.h>

#include <morvik/front/explain.h>
#include <morvik/front/failure.h>

namespace morvik::front {

// The size of the pieces in which the tool reads and writes.
inline constexpr std::size_t kChunkSize = 64 * 1024;

class Sink : public morvik::Sink {
public:
    // End of input: flush what was held back, then finish the next stage.
    virtual void Finish() = 0;
};

// One of the core's streams as a stage. The stream's pieces are gathered into
// chunks of up to kChunkSize, and what one Write produced goes on before it
// returns, so a run that fails late has written all it could.
template <class Stream>
class StreamStage : public Sink {
public:
    void Write(std::string_view bytes) override {
        try {
            stream_.Update(bytes, chunk_);
        } catch (const Error& e) {
            chunk_.Drop();
            throw Explained(e, subject_);
        }
        chunk_.Flush();
    }
    void Finish() final {
        try {
            stream_.Finish(chunk_);
        } catch (const Error& e) {
            chunk_.Drop();
            throw Explained(e, subject_);
        }
        chunk_.Flush();
        next_.Finish();
    }

protected:
    template <class... Args>
    StreamStage(Sink& next, std::string subject, const Args&... args)
        : stream_(args...), next_(next), chunk_(next), subject_(std::move(subject)) {}

private:
    class Chunk final : public morvik::Sink {
    public:
        explicit Chunk(Sink& next) : next_(next) {}
        void Write(std::string_view bytes) override {
            if (buffer_.size() + bytes.size() > kChunkSize) Flush();
            if (bytes.size() >= kChunkSize) next_.Write(bytes);
            else buffer_.append(bytes);
        }
        void Flush() {
            if (buffer_.empty()) return;
            next_.Write(buffer_);
            buffer_.clear();
        }
        void Drop() noexcept { buffer_.clear(); }

    private:
        Sink&       next_;
        std::string buffer_;
    };

    Stream      stream_;
    Sink&       next_;
    Chunk       chunk_;
    std::string subject_;
};

class EncryptStage final : public StreamStage<EncryptStream> {
public:
    EncryptStage(const RC2& rc2, Sink& next) : StreamStage(next, "the plaintext", rc2) {}
};

class DecryptStage final : public StreamStage<DecryptStream> {
public:
    // `what` names the ciphertext in messages ("the ciphertext", "the
    // ciphertext read from the hex text", ...).
    DecryptStage(const RC2& rc2, std::string what, Sink& next) : StreamStage(next, std::move(what), rc2) {}
};

class HexWriteStage final : public StreamStage<hex::WriteStream> {
public:
    explicit HexWriteStage(Sink& next) : StreamStage(next, "hex text") {}
};

// The object reads a line break in hex as part of a pair, so hex folded into
// lines reads to other bytes without an error. The reading stays the
// object's; the stage notes the first line break that more text follows
// (a final one is only the end of the text), for the front to warn about.
class HexReadStage final : public StreamStage<hex::ReadStream> {
public:
    explicit HexReadStage(Sink& next) : StreamStage(next, "hex text") {}
    void Write(std::string_view text) final;
    // The warning to give, if the text held such a line break.
    std::optional<std::string> LineBreakWarning() const;

private:
    std::uint64_t                offset_ = 0;  // of the next byte written
    std::optional<std::uint64_t> line_break_;  // the first line break seen
    bool                         inside_ = false;  // and text came after it
};

class AscEncodeStage final : public StreamStage<AscEncodeStream> {
public:
    explicit AscEncodeStage(Sink& next) : StreamStage(next, "armoured text") {}
};

class AscDecodeStage final : public StreamStage<AscDecodeStream> {
public:
    explicit AscDecodeStage(Sink& next) : StreamStage(next, "armoured text") {}
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

// UTF-8 text to the bytes the object's string has for it, however the text
// is cut into pieces: a sequence cut by the end of a piece waits for the
// next. A character with no byte, or malformed UTF-8, fails with
// Exit::Overflow naming its byte offset and line in the whole input.
class FromUtf8Stage final : public Sink {
public:
    explicit FromUtf8Stage(Sink& next) : next_(next) {}
    void Write(std::string_view bytes) override;
    void Finish() override;

private:
    void Convert(std::string_view text);

    Sink&         next_;
    std::string   pending_;  // an incomplete sequence at the end of a piece
    std::string   out_;
    std::uint64_t offset_ = 0;  // of the first byte not yet converted
    std::uint64_t line_   = 1;  // the line that byte is on
};

// Collects everything in memory; for tests and for short texts.
class StringSink final : public Sink {
public:
    void Write(std::string_view bytes) override { data += bytes; }
    void Finish() override { finished = true; }

    std::string data;
    bool        finished = false;
};

}  // namespace morvik::front
