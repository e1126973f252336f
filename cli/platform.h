// morvik — what the tool needs of the operating system, and nothing more.
//
// The rest of the tool is written against this header only; posix/ and
// windows/ each implement it once. Names are UTF-8 everywhere in between.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace morvik::cli::platform {

// At the start of the run: standard streams made safe to use (held open when
// closed, binary), and the temporary file of -o and the terminal's settings
// cleaned up should the run be interrupted.
void Start() noexcept;

// Whether standard stream 0, 1 or 2 was closed when the tool started.
bool StandardClosed(int stream) noexcept;

// The reason of the last failed call below, as text.
std::string LastError();

// What the run reads: a file, or standard input for "-" or "".
class Source {
public:
    virtual ~Source() = default;
    // Up to `n` bytes; 0 at the end, -1 on an error (see LastError).
    virtual long long Read(char* into, std::size_t n) = 0;
    // The size of a regular file; nothing for a pipe, a terminal or a device.
    virtual std::optional<std::uint64_t> Size() const = 0;
    // Exactly `n` bytes at `offset`, leaving the reading position alone.
    virtual bool ReadAt(std::uint64_t offset, char* into, std::size_t n) = 0;
    // Whether this is the very file, pipe or terminal that standard input
    // reads (by whatever name it was opened: -, /dev/stdin, /proc/self/fd/0).
    virtual bool SameAsStandardInput() const = 0;
};
// Throws Failure(Exit::Io) naming `name` and the reason.
std::unique_ptr<Source> OpenSource(const std::string& path, const std::string& name);

// Where the run writes is the front layer's (morvik/front/target.h).

// Writes to standard output or standard error, bypassing every buffer;
// "" on success, else the reason.
std::string WriteStandard(int stream, std::string_view bytes) noexcept;

// The progress line on standard error, when that is a terminal.
bool ErrorIsTerminal() noexcept;
int ErrorColumns() noexcept;
void DrawStatus(const std::string& line) noexcept;
void ClearStatus() noexcept;

}  // namespace morvik::cli::platform
