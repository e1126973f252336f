// morvik — where the bytes come from and where they go.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform.h"
#include "front.h"

namespace morvik::cli {

// A file, standard input ("-"), or a text given on the command line, read in
// pieces of kChunkSize.
class Input {
public:
    static Input File(const std::string& path);  // "-" for standard input
    static Input Text(std::string bytes);

    Input(Input&& other) noexcept = default;
    Input& operator=(Input&&) = delete;
    ~Input();

    // The next piece; empty at the end. Throws Failure(Exit::Io) on a read error.
    std::string_view Next();

    // The size when it is known in advance (a regular file or a text).
    std::optional<std::uint64_t> Size() const { return size_; }
    const std::string& Name() const { return name_; }
    // How many zero bytes end the input, found before reading it: for a
    // regular file (from its end) or a text; nothing for a pipe or a terminal.
    std::optional<std::uint64_t> TrailingZerosAhead() const;
    // Whether this is standard input, by any name (see platform::Source).
    bool StandardInput() const { return source_ && source_->SameAsStandardInput(); }
    // Whether the input read so far ends with '\n' or '\r'.
    bool EndsWithLineBreak() const { return last_ == '\n' || last_ == '\r'; }

private:
    Input() = default;

    std::unique_ptr<platform::Source> source_;
    std::string                   name_;
    std::string                   buffer_;
    std::optional<std::uint64_t>  size_;
    std::uint64_t                 offset_ = 0;
    bool                          text_ = false;
    bool                          done_ = false;
    char                          last_ = '\0';
};

// Standard output, or what -o names (see platform.h): a file that appears only
// when the whole output is written, or a descriptor, device or pipe written
// through. What is written through is held back up to kHoldBack bytes until
// the end of the input, so that an input that fails within that much output
// writes nothing at all; the bytes still held when the run fails are dropped.
class Output final : public Sink {
public:
    explicit Output(const std::string& path);  // "" or "-" for standard output
    ~Output() override;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // Text forms end with a line break when, and only when, they go to a
    // terminal: the bytes of a file or a pipe are exactly the object's text.
    void EndTextWithNewlineOnTerminal() { newline_on_tty_ = true; }

    void Write(std::string_view bytes) override;
    void Finish() override;

    // Whether the output is a terminal, where raw bytes would only garble it.
    bool Terminal() const { return !target_->Replaces() && target_->Terminal(); }

    // Whether some bytes have already gone out where they cannot be taken back.
    bool Started() const { return started_; }

private:
    void Flush();
    void WriteAll(std::string_view bytes);

    std::unique_ptr<Target>      target_;
    std::string                  name_ = "standard output";  // for messages
    std::string                  buffer_;
    bool                         holding_ = true;
    bool                         newline_on_tty_ = false;
    bool                         wrote_ = false;
    bool                         started_ = false;
};

// The output held back when it is written through.
inline constexpr std::size_t kHoldBack = 1 << 20;

}  // namespace morvik::cli
