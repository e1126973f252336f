#include "io.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "failure.h"

namespace morvik::cli {
namespace {

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

Failure IoFailure(const std::string& what) { return Failure(Exit::Io, what + ": " + std::strerror(errno)); }

// The temporary file of the run, so that a signal can remove it. Only one
// Output writes a file at a time.
char g_temp[4096];
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[std::size(kSignals)];

extern "C" void RemoveTempAndDie(int sig) {
    if (g_temp[0] != '\0') ::unlink(g_temp);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// A signal that the caller ignores (as a shell does for background jobs)
// stays ignored.
void WatchSignals(const std::string& temp) {
    if (temp.size() >= sizeof g_temp) return;
    std::memcpy(g_temp, temp.c_str(), temp.size() + 1);
    struct sigaction remove {};
    remove.sa_handler = RemoveTempAndDie;
    sigemptyset(&remove.sa_mask);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], nullptr, &g_previous[i]);
        if (g_previous[i].sa_handler != SIG_IGN) ::sigaction(kSignals[i], &remove, nullptr);
    }
}

void ForgetSignals() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &g_previous[i], nullptr);
    g_temp[0] = '\0';
}

mode_t CreationMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

// ---- Input ----------------------------------------------------------------

Input Input::File(const std::string& path) {
    Input in;
    if (path == "-" || path.empty()) {
        in.fd_ = 0;
        in.name_ = "standard input";
    } else {
        in.fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (in.fd_ < 0) throw IoFailure("cannot open " + Quoted(path));
        in.owned_ = true;
        in.name_ = Quoted(path);
    }
    struct stat st {};
    if (::fstat(in.fd_, &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            errno = EISDIR;
            throw IoFailure("cannot read " + in.name_);
        }
        if (S_ISREG(st.st_mode)) in.size_ = static_cast<std::uint64_t>(st.st_size);
    }
    in.buffer_.resize(kChunkSize);
    return in;
}

Input Input::Text(std::string bytes) {
    Input in;
    in.name_ = "--text";
    in.size_ = bytes.size();
    in.buffer_ = std::move(bytes);
    in.text_ = true;
    return in;
}

Input::Input(Input&& other) noexcept
    : fd_(other.fd_), owned_(other.owned_), name_(std::move(other.name_)), buffer_(std::move(other.buffer_)),
      size_(other.size_), offset_(other.offset_), text_(other.text_), done_(other.done_), last_(other.last_) {
    other.owned_ = false;
}

Input::~Input() {
    if (owned_) ::close(fd_);
}

std::string_view Input::Next() {
    if (done_) return {};
    if (text_) {
        done_ = true;
        if (!buffer_.empty()) last_ = buffer_.back();
        return buffer_;
    }
    for (;;) {
        const ssize_t n = ::read(fd_, buffer_.data(), buffer_.size());
        if (n > 0) {
            offset_ += static_cast<std::uint64_t>(n);
            last_ = buffer_[static_cast<std::size_t>(n) - 1];
            return std::string_view(buffer_.data(), static_cast<std::size_t>(n));
        }
        if (n == 0) {
            done_ = true;
            return {};
        }
        if (errno != EINTR) throw IoFailure("cannot read " + name_ + " at byte offset " + std::to_string(offset_));
    }
}

// ---- Output ---------------------------------------------------------------

Output::Output(const std::string& path) {
    buffer_.reserve(kChunkSize);
    if (path.empty() || path == "-") return;
    path_ = path;
    name_ = Quoted(path);
    // A device or a pipe is written as it is: only a regular file can be
    // replaced by a finished copy.
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd_ < 0) throw IoFailure("cannot write " + name_);
        return;
    }
    // Through a symbolic link, the file it points to is replaced, not the link.
    std::string target = path;
    if (exists) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    const std::size_t slash = target.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (base.empty() || base == "." || base == "..") {
        errno = EISDIR;
        throw IoFailure("cannot write " + name_);
    }
    temp_ = dir + "." + base + ".morvik-XXXXXX";
    // No signal may come between creating the file and learning its name.
    sigset_t block, old;
    sigemptyset(&block);
    for (int sig : kSignals) sigaddset(&block, sig);
    ::sigprocmask(SIG_BLOCK, &block, &old);
    fd_ = ::mkostemp(temp_.data(), O_CLOEXEC);
    const int error = errno;
    if (fd_ >= 0) WatchSignals(temp_);
    ::sigprocmask(SIG_SETMASK, &old, nullptr);
    if (fd_ < 0) {
        temp_.clear();
        errno = error;
        throw IoFailure("cannot create a temporary file beside " + name_);
    }
    path_ = target;
    // The finished file gets the mode an ordinary new file would get, or keeps
    // the mode of the file it replaces.
    const mode_t mode = exists ? (st.st_mode & 07777) : CreationMode();
    if (::fchmod(fd_, mode) != 0) {
        Discard();
        throw IoFailure("cannot set the mode of " + Quoted(temp_));
    }
}

Output::~Output() { Discard(); }

void Output::Discard() noexcept {
    if (fd_ > 2) ::close(fd_);
    fd_ = -1;
    if (temp_.empty()) return;
    ::unlink(temp_.c_str());
    temp_.clear();
    ForgetSignals();
}

void Output::Write(std::string_view bytes) {
    if (bytes.empty()) return;
    wrote_ = true;
    if (buffer_.size() + bytes.size() > kChunkSize) Flush();
    if (bytes.size() >= kChunkSize) WriteAll(bytes);
    else buffer_.append(bytes);
}

void Output::Flush() {
    WriteAll(buffer_);
    buffer_.clear();
}

void Output::WriteAll(std::string_view rest) {
    while (!rest.empty()) {
        const ssize_t n = ::write(fd_, rest.data(), rest.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            throw IoFailure("cannot write " + (path_.empty() ? std::string("standard output") : name_));
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
}

void Output::Finish() {
    if (path_.empty() && newline_on_tty_ && wrote_ && ::isatty(fd_)) buffer_ += '\n';
    Flush();
    if (path_.empty()) return;
    const int fd = fd_;
    fd_ = -1;
    if (temp_.empty()) {
        if (::close(fd) != 0) throw IoFailure("cannot write " + name_);
        return;
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) throw IoFailure("cannot write " + name_);
    if (::rename(temp_.c_str(), path_.c_str()) != 0) throw IoFailure("cannot replace " + name_);
    temp_.clear();
    ForgetSignals();
}

// ---- Progress -------------------------------------------------------------

Progress::Progress(std::string label, std::optional<std::uint64_t> total, bool allowed)
    : label_(std::move(label)) {
    on_ = allowed && total && *total >= kProgressThreshold && ::isatty(2);
    if (on_) total_ = *total;
}

Progress::~Progress() { Clear(); }

void Progress::Advance(std::uint64_t bytes) {
    if (!on_) return;
    done_ += bytes;
    const int now = static_cast<int>(std::min<std::uint64_t>(done_, total_) * 1000 / total_);
    if (now != shown_) {
        shown_ = now;
        Draw();
    }
}

void Progress::Draw() {
    constexpr int kWidth = 30;
    const int filled = shown_ * kWidth / 1000;
    char bar[kWidth + 1];
    for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kWidth] = '\0';
    std::fprintf(stderr, "\r%s [%s] %3d.%d%%  %llu of %llu MiB", label_.c_str(), bar, shown_ / 10, shown_ % 10,
                 static_cast<unsigned long long>(done_ >> 20), static_cast<unsigned long long>(total_ >> 20));
    std::fflush(stderr);
}

void Progress::Clear() {
    if (!on_ || shown_ < 0) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    shown_ = -1;
}

}  // namespace morvik::cli
