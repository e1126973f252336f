#include "../platform.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "../front.h"
#include <morvik/front/posix_output.h>

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
    bool SameAsStandardInput() const override {
        if (fd_ == 0) return true;
        struct stat mine {}, standard {};
        return !StandardDescriptorClosed(0) && ::fstat(fd_, &mine) == 0 && ::fstat(0, &standard) == 0 &&
               mine.st_dev == standard.st_dev && mine.st_ino == standard.st_ino;
    }

    int                          fd_;
    bool                         owned_;
    std::optional<std::uint64_t> size_;
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

}  // namespace morvik::cli::platform
