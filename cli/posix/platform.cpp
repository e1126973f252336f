#include "../platform.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <morvik/cp1252.h>

#include "../failure.h"
#include "../options.h"
#include "output.h"
#include "../stages.h"

namespace morvik::cli::platform {
namespace {

Failure IoFailure(const std::string& what) { return Failure(Exit::Io, what + ": " + std::strerror(errno)); }

class FileSource final : public Source {
public:
    FileSource(int fd, bool owned) : fd_(fd), owned_(owned) {}
    ~FileSource() override {
        if (owned_) ::close(fd_);
    }
    long long Read(char* into, std::size_t n) override {
        for (;;) {
            const ssize_t got = ::read(fd_, into, n);
            if (got >= 0 || errno != EINTR) return got;
        }
    }
    std::optional<std::uint64_t> Size() const override { return size_; }
    bool ReadAt(std::uint64_t offset, char* into, std::size_t n) override {
        return ::pread(fd_, into, n, static_cast<off_t>(offset)) == static_cast<ssize_t>(n);
    }

    int                          fd_;
    bool                         owned_;
    std::optional<std::uint64_t> size_;
};

// Standard output, a descriptor that -o names, or a replacement.
class FileTarget final : public Target {
public:
    FileTarget(int fd, bool owned) : fd_(fd), owned_(owned) {}
    explicit FileTarget(std::unique_ptr<Replacement> replacement)
        : fd_(replacement->fd()), replacement_(std::move(replacement)) {}
    ~FileTarget() override {
        if (owned_) ::close(fd_);
    }
    bool Write(std::string_view rest) override {
        while (!rest.empty()) {
            const ssize_t n = ::write(fd_, rest.data(), rest.size());
            if (n < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            rest.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }
    bool Replaces() const override { return replacement_ != nullptr; }
    bool Terminal() const override { return ::isatty(fd_) == 1; }
    void Commit(const std::string& name) override {
        if (replacement_) {
            replacement_->Commit();
            return;
        }
        if (owned_) {
            owned_ = false;
            if (::close(fd_) != 0) throw IoFailure("cannot write " + name);
        }
    }

private:
    int                          fd_;
    bool                         owned_ = false;
    std::unique_ptr<Replacement> replacement_;
};

}  // namespace

void Start() noexcept {
    HoldStandardDescriptors();
    CleanUpOnFatalSignals();
}

bool StandardClosed(int stream) noexcept { return StandardDescriptorClosed(stream); }

std::string LastError() { return std::strerror(errno); }

std::unique_ptr<Source> OpenSource(const std::string& path, const std::string& name) {
    std::unique_ptr<FileSource> in;
    if (path == "-" || path.empty()) {
        if (StandardDescriptorClosed(0)) {
            errno = EBADF;
            throw IoFailure("cannot read standard input");
        }
        in = std::make_unique<FileSource>(0, false);
    } else {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) throw IoFailure("cannot open " + name);
        in = std::make_unique<FileSource>(fd, true);
    }
    struct stat st {};
    if (::fstat(in->fd_, &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            errno = EISDIR;
            throw IoFailure("cannot read " + name);
        }
        if (S_ISREG(st.st_mode)) in->size_ = static_cast<std::uint64_t>(st.st_size);
    }
    return in;
}

std::unique_ptr<Target> OpenTarget(const std::string& path, const std::string& name) {
    if (path.empty() || path == "-") {
        if (StandardDescriptorClosed(1)) {
            errno = EBADF;
            throw IoFailure("cannot write standard output");
        }
        return std::make_unique<FileTarget>(1, false);
    }
    Destination to = Resolve(path);
    if (to.fd >= 0) return std::make_unique<FileTarget>(to.fd, true);
    return std::make_unique<FileTarget>(std::make_unique<Replacement>(to, name));
}

std::string WriteStandard(int stream, std::string_view rest) noexcept {
    int error = StandardDescriptorClosed(stream) ? EBADF : 0;
    while (error == 0 && !rest.empty()) {
        const ssize_t n = ::write(stream, rest.data(), rest.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error = errno;
        else rest.remove_prefix(static_cast<std::size_t>(n));
    }
    return error == 0 ? std::string() : std::string(std::strerror(error));
}

bool ErrorIsTerminal() noexcept { return ::isatty(2) == 1; }

int ErrorColumns() noexcept {
    struct winsize ws {};
    if (::ioctl(2, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

void DrawStatus(const std::string& line) noexcept {
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
}

void ClearStatus() noexcept {
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
}

// The core's conversion says where the text went wrong, and wipes what it
// had converted of a key.
std::string TextBytes(std::string_view utf8, const std::string& option) {
    try {
        return cp1252::FromUtf8(utf8);
    } catch (const Error& e) {
        throw Explained(e, option);
    }
}

std::string BytesToUtf8(std::string_view bytes) { return cp1252::ToUtf8(bytes); }

}  // namespace morvik::cli::platform
