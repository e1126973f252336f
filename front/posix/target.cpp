#include <morvik/front/target.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <morvik/front/failure.h>
#include <morvik/front/posix_output.h>

namespace morvik::front {
namespace {

int g_write_error = 0;

// Standard output, a descriptor that the path names, or a replacement.
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
                g_write_error = errno;
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
            if (::close(fd_) != 0) throw Failure(Exit::Io, "cannot write " + name + ": " + std::strerror(errno), errno);
        }
    }

private:
    int                          fd_;
    bool                         owned_ = false;
    std::unique_ptr<Replacement> replacement_;
};

}  // namespace

std::unique_ptr<Target> OpenTarget(const std::string& path, const std::string& name) {
    if (path.empty() || path == "-") {
        if (StandardDescriptorClosed(1))
            throw Failure(Exit::Io, std::string("cannot write standard output: ") + std::strerror(EBADF), EBADF);
        return std::make_unique<FileTarget>(1, false);
    }
    Destination to = Resolve(path);
    if (to.fd >= 0) return std::make_unique<FileTarget>(to.fd, true);
    return std::make_unique<FileTarget>(std::make_unique<Replacement>(to, name));
}

std::string TargetError() { return std::strerror(g_write_error); }
int TargetErrorNumber() { return g_write_error; }

void HoldStandardStreams() noexcept { HoldStandardDescriptors(); }
bool StandardStreamClosed(int stream) noexcept { return StandardDescriptorClosed(stream); }

}  // namespace morvik::front
