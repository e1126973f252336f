// Morvik RC2 — where a stream's output goes.
//
// The streams of the message paths and the text codecs (rc2.h, hex.h,
// blind_ascii.h) hand their output on in order, a piece at a time, each piece
// at most a few tens of KiB, so that a stream's memory stays bounded however
// much output one input releases (a decryptor may hold back a run of zero
// bytes of any length). A piece is valid only during the call.
#pragma once

#include <string>
#include <string_view>

namespace morvik {

class Sink {
public:
    virtual ~Sink() = default;
    virtual void Write(std::string_view bytes) = 0;
};

// Appends every piece to a string.
class AppendSink final : public Sink {
public:
    explicit AppendSink(std::string& out) noexcept : out_(out) {}
    void Write(std::string_view bytes) override { out_.append(bytes); }

private:
    std::string& out_;
};

}  // namespace morvik
