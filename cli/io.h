// morvik — where the bytes come from and where they go.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "stages.h"

namespace morvik::cli {

// A file, standard input ("-"), or a text given on the command line, read in
// pieces of kChunkSize.
class Input {
public:
    static Input File(const std::string& path);  // "-" for standard input
    static Input Text(std::string bytes);

    Input(Input&& other) noexcept;
    Input& operator=(Input&&) = delete;
    ~Input();

    // The next piece; empty at the end. Throws Failure(Exit::Io) on a read error.
    std::string_view Next();

    // The size when it is known in advance (a regular file or a text).
    std::optional<std::uint64_t> Size() const { return size_; }
    const std::string& Name() const { return name_; }
    // Whether the input read so far ends with '\n' or '\r'.
    bool EndsWithLineBreak() const { return last_ == '\n' || last_ == '\r'; }

private:
    Input() = default;

    int                           fd_ = -1;
    bool                          owned_ = false;
    std::string                   name_;
    std::string                   buffer_;
    std::optional<std::uint64_t>  size_;
    std::uint64_t                 offset_ = 0;
    bool                          text_ = false;
    bool                          done_ = false;
    char                          last_ = '\0';
};

// Standard output, or a file that appears only when the whole output is
// written: the bytes go to a temporary file in the same directory, which is
// renamed over the target by Finish() and removed if the run fails, is
// interrupted, or the Output is destroyed unfinished. A target that exists and
// is not a regular file (a device, a pipe) is written directly.
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

private:
    void Flush();
    void WriteAll(std::string_view bytes);
    void Discard() noexcept;

    int         fd_ = 1;
    std::string path_;  // the target; empty for standard output
    std::string name_;  // the target as given, for messages
    std::string temp_;
    std::string buffer_;
    bool        newline_on_tty_ = false;
    bool        wrote_ = false;
};

// A progress line on standard error, for long runs on a terminal.
class Progress {
public:
    Progress(std::string label, std::optional<std::uint64_t> total, bool allowed);
    ~Progress();
    void Advance(std::uint64_t bytes);
    void Clear();

private:
    void Draw();

    std::string   label_;
    std::uint64_t total_ = 0;
    std::uint64_t done_ = 0;
    int           shown_ = -1;  // per mille on screen
    bool          on_ = false;
};

// Inputs at least this large get a progress line.
inline constexpr std::uint64_t kProgressThreshold = 64ull << 20;

}  // namespace morvik::cli
