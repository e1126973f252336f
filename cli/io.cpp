#include "io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>

#include "failure.h"

namespace morvik::cli {
namespace {

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

Failure IoFailure(const std::string& what) { return Failure(Exit::Io, what + ": " + std::strerror(errno)); }

}  // namespace

// ---- Input ----------------------------------------------------------------

Input Input::File(const std::string& path) {
    Input in;
    if (path == "-" || path.empty()) {
        in.fd_ = 0;
        in.name_ = "standard input";
        if (StandardDescriptorClosed(0)) {
            errno = EBADF;
            throw IoFailure("cannot read standard input");
        }
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

std::optional<std::uint64_t> Input::TrailingZerosAhead() const {
    if (text_) {
        const std::size_t last = buffer_.find_last_not_of('\0');
        return last == std::string::npos ? buffer_.size() : buffer_.size() - last - 1;
    }
    if (!size_) return std::nullopt;
    std::uint64_t zeros = 0;
    std::string tail(kChunkSize, '\0');
    for (std::uint64_t end = *size_; end > 0;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(end, tail.size()));
        const ssize_t got = ::pread(fd_, tail.data(), n, static_cast<off_t>(end - n));
        if (got != static_cast<ssize_t>(n)) return std::nullopt;  // not seekable after all, or changing: judged at the end
        const std::size_t last = std::string_view(tail.data(), n).find_last_not_of('\0');
        if (last != std::string_view::npos) return zeros + (n - last - 1);
        zeros += n;
        end -= n;
    }
    return zeros;
}

// ---- Output ---------------------------------------------------------------

Output::Output(const std::string& path) {
    buffer_.reserve(kChunkSize);
    if (path.empty() || path == "-") {
        if (StandardDescriptorClosed(1)) {
            errno = EBADF;
            throw IoFailure("cannot write standard output");
        }
        return;
    }
    name_ = Quoted(path);
    Destination to = Resolve(path);
    if (to.fd >= 0) {
        fd_ = to.fd;
        owned_ = true;
        return;
    }
    replacement_ = std::make_unique<Replacement>(to, name_);
    fd_ = replacement_->fd();
    holding_ = false;  // nothing is seen before the rename anyway
}

Output::~Output() {
    if (owned_) ::close(fd_);
}

void Output::Write(std::string_view bytes) {
    if (bytes.empty()) return;
    wrote_ = true;
    if (holding_) {
        if (buffer_.size() + bytes.size() <= kHoldBack) {
            buffer_.append(bytes);
            return;
        }
        holding_ = false;
    }
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
            throw IoFailure("cannot write " + name_);
        }
        if (!replacement_) started_ = true;
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
}

void Output::Finish() {
    if (!replacement_ && newline_on_tty_ && wrote_ && ::isatty(fd_)) buffer_ += '\n';
    holding_ = false;
    Flush();
    if (replacement_) {
        replacement_->Commit();
        return;
    }
    if (owned_) {
        owned_ = false;
        if (::close(fd_) != 0) throw IoFailure("cannot write " + name_);
    }
}

}  // namespace morvik::cli
