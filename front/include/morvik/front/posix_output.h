// Morvik RC2 fronts, POSIX side — what an output path names, and replacing a
// file only when its new content is complete.
//
// A name that is a descriptor (/dev/stdout, /dev/fd/N, /proc/self/fd/N, or a
// link that leads to one), a device, a pipe or a socket is written through:
// what a shell's `>>` or `3>&1` set up is respected. Any other name is a
// regular file, new or existing, reached through its symbolic links: the
// bytes go to a temporary file beside it, which is renamed over it when the
// run succeeds. The replaced file keeps its owner, group and permission bits
// (not setuid and setgid, which must not pass to new content); a hard link to
// the old file keeps the old content, as with `sed -i`.
#pragma once

#include <sys/stat.h>
#include <termios.h>

#include <string>

namespace morvik::front {

// Standard descriptors that were closed when the tool started are held open
// on /dev/null, so that no file the tool opens takes their number; reading
// or writing them still fails as on a closed descriptor (EBADF).
void HoldStandardDescriptors() noexcept;
bool StandardDescriptorClosed(int fd) noexcept;

// From now on every signal whose default action ends the process (unless the
// caller ignores it or a sanitizer already handles it) first removes the
// run's temporary file and puts the terminal back as it was, then ends the
// process as the signal would have.
void CleanUpOnFatalSignals() noexcept;
// The terminal settings to restore if a signal ends the run; fd -1 for none.
void RestoreTerminalOnSignal(int fd, const struct termios* settings) noexcept;

// An open descriptor to write through, or a regular file to replace.
struct Destination {
    int         fd = -1;  // when written through; owned by the caller
    std::string dir;      // when replaced: the directory ("" for the current one)
    std::string base;     //   and the name in it, after every symbolic link
    bool        exists = false;
    struct stat st {};    //   of the existing file
};

// Throws Failure(Exit::Io) naming `path` and the reason.
Destination Resolve(const std::string& path);

// The temporary file beside a destination; removed unless committed.
class Replacement {
public:
    Replacement(const Destination& to, const std::string& name);  // `name` for messages
    ~Replacement();
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;

    int fd() const { return fd_; }
    // Syncs and closes the temporary file, then renames it over the target.
    void Commit();

private:
    void Discard() noexcept;

    int         dir_ = -1;
    int         fd_  = -1;
    std::string temp_, base_, name_;
};

}  // namespace morvik::front
