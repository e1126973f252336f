#include "io.h"

#include <algorithm>

#include "front.h"

namespace morvik::cli {
namespace {

Failure IoFailure(const std::string& what) { return Failure(Exit::Io, what + ": " + platform::LastError()); }

}  // namespace

// ---- Input ----------------------------------------------------------------

Input Input::File(const std::string& path) {
    Input in;
    in.name_ = path == "-" || path.empty() ? std::string("standard input") : Quoted(path);
    in.source_ = platform::OpenSource(path, in.name_);
    in.size_ = in.source_->Size();
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

Input::~Input() = default;

std::string_view Input::Next() {
    if (done_) return {};
    if (text_) {
        done_ = true;
        if (!buffer_.empty()) last_ = buffer_.back();
        return buffer_;
    }
    const long long n = source_->Read(buffer_.data(), buffer_.size());
    if (n > 0) {
        offset_ += static_cast<std::uint64_t>(n);
        last_ = buffer_[static_cast<std::size_t>(n) - 1];
        return std::string_view(buffer_.data(), static_cast<std::size_t>(n));
    }
    if (n == 0) {
        done_ = true;
        return {};
    }
    throw IoFailure("cannot read " + name_ + " at byte offset " + std::to_string(offset_));
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
        if (!source_->ReadAt(end - n, tail.data(), n)) return std::nullopt;  // not seekable after all, or changing: judged at the end
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
    if (!path.empty() && path != "-") name_ = Quoted(path);
    target_ = OpenTarget(path, name_);
    holding_ = !target_->Replaces();  // nothing is seen before the replacement anyway
}

Output::~Output() = default;

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

void Output::WriteAll(std::string_view bytes) {
    if (bytes.empty()) return;
    if (!target_->Write(bytes))
        throw Failure(Exit::Io, "cannot write " + name_ + ": " + TargetError(), TargetErrorNumber());
    if (!target_->Replaces()) started_ = true;
}

void Output::Finish() {
    if (!target_->Replaces() && newline_on_tty_ && wrote_ && target_->Terminal()) buffer_ += '\n';
    holding_ = false;
    Flush();
    target_->Commit(name_);
}

}  // namespace morvik::cli
