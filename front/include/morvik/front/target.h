// Morvik RC2 fronts — where an output goes: standard output, a stream,
// device or pipe that the path names, written through; or a regular file,
// replaced only by Commit: the bytes go to a temporary file beside it, which
// is synced, given the old file's owner and mode, and renamed over it; the
// temporary file is removed otherwise. One interface, a POSIX and a Windows
// side (posix/, windows/).
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace morvik::front {

class Target {
public:
    virtual ~Target() = default;
    // All of `bytes`; false on an error (see TargetError).
    virtual bool Write(std::string_view bytes) = 0;
    virtual bool Replaces() const = 0;
    virtual bool Terminal() const = 0;
    // Ends the writing: the replacement takes the file's place, a stream
    // that the path opened is closed. Throws Failure(Exit::Io) naming `name`.
    virtual void Commit(const std::string& name) = 0;
};

// `path` (UTF-8; "" or "-" for standard output) for writing; `name` names it
// in messages. Throws Failure(Exit::Io).
std::unique_ptr<Target> OpenTarget(const std::string& path, const std::string& name);

// The reason of the last failed Write, as text, and as the system's number.
std::string TargetError();
int TargetErrorNumber();

// What an interruption must clean up: the temporary file of the replacement
// under way, if any. Safe in a signal handler (POSIX) or a console control
// handler (Windows).
void DiscardPendingReplacement() noexcept;

// Whether standard stream 0, 1 or 2 was closed when the program started
// (held open on the null device meanwhile, so no file takes its number).
void HoldStandardStreams() noexcept;
bool StandardStreamClosed(int stream) noexcept;

}  // namespace morvik::front
