#include <algorithm>
#include <array>
#include <cstring>

#include <morvik/detail/output.h>
#include <morvik/detail/wipe.h>
#include <morvik/rc2.h>
#include <morvik/sink.h>

#include "message.h"

namespace morvik {
namespace {

constexpr std::size_t kBlock = RC2::kBlockSize;
static_assert(detail::kPiece % kBlock == 0);

// Runs of bytes that a decryptor counted instead of keeping, handed on from here.
constexpr auto kSpaces = [] {
    std::array<char, detail::kPiece> run{};
    run.fill(' ');
    return run;
}();
constexpr std::array<char, detail::kPiece> kZeros{};

void WriteRun(const std::array<char, detail::kPiece>& run, std::uint64_t count, Sink& out) {
    while (count != 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, run.size()));
        out.Write(std::string_view(run.data(), n));
        count -= n;
    }
}

std::string_view View(const std::uint8_t* p, std::size_t n) noexcept { return {reinterpret_cast<const char*>(p), n}; }

// Fills the carried block from the front of the input; true once it is whole.
bool Carry(std::uint8_t* carry, std::size_t& held, const std::uint8_t*& p, std::size_t& n) noexcept {
    const std::size_t take = std::min(kBlock - held, n);
    std::memcpy(carry + held, p, take);
    held += take, p += take, n -= take;
    return held == kBlock;
}

}  // namespace

// ---- Encrypt --------------------------------------------------------------

EncryptStream::~EncryptStream() { detail::Wipe(carry_, sizeof carry_); }

void EncryptStream::Update(std::string_view plain, Sink& out) {
    try {
        Blocks(plain, out);
    } catch (...) {
        detail::Wipe(carry_, sizeof carry_);
        held_ = 0;
        throw;
    }
}

void EncryptStream::Blocks(std::string_view plain, Sink& out) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(plain.data());
    std::size_t n = plain.size();
    if (held_ != 0) {
        if (!Carry(carry_, held_, p, n)) return;
        std::uint8_t block[kBlock];
        rc2_.EncryptBlocks(carry_, block, 1);
        held_ = 0;
        out.Write(View(block, kBlock));
    }
    if (n >= kBlock) {
        alignas(64) std::uint8_t piece[detail::kPiece];
        const std::size_t used = std::min(n / kBlock * kBlock, detail::kPiece);
        while (n >= kBlock) {
            const std::size_t m = std::min(n / kBlock * kBlock, detail::kPiece);
            rc2_.EncryptBlocks(p, piece, m / kBlock);
            out.Write(View(piece, m));
            p += m, n -= m;
        }
        detail::Wipe(piece, used);
    }
    std::memcpy(carry_, p, n);
    held_ = n;
}

void EncryptStream::Finish(Sink& out) {
    if (held_ == 0) return;
    const std::size_t filled = RC2::FilledSize(held_);
    std::memset(carry_ + held_, 0, filled - held_);
    std::uint8_t block[kBlock];
    rc2_.EncryptBlocks(carry_, block, filled / kBlock);
    detail::Wipe(carry_, sizeof carry_);
    held_ = 0;
    out.Write(View(block, filled));
}

// ---- Decrypt --------------------------------------------------------------

void DecryptStream::Update(std::string_view cipher, Sink& out) {
    try {
        Pieces(cipher, out);
    } catch (...) {
        held_ = 0, blank_ = true, spaces_ = 0, length_ = 0, zeros_ = 0;
        throw;
    }
}

void DecryptStream::Pieces(std::string_view cipher, Sink& out) {
    length_ += cipher.size();
    if (blank_) {
        // Spaces are only counted until something else shows that this
        // ciphertext is not blank; then they are ciphertext like any other.
        if (detail::SpacesOnly(cipher)) {
            spaces_ += cipher.size();
            return;
        }
        blank_ = false;
        while (spaces_ != 0) {
            const std::size_t m = static_cast<std::size_t>(std::min<std::uint64_t>(spaces_, kSpaces.size()));
            Blocks(reinterpret_cast<const std::uint8_t*>(kSpaces.data()), m, out);
            spaces_ -= m;
        }
    }
    Blocks(reinterpret_cast<const std::uint8_t*>(cipher.data()), cipher.size(), out);
}

void DecryptStream::Blocks(const std::uint8_t* p, std::size_t n, Sink& out) {
    if (held_ != 0) {
        if (!Carry(carry_, held_, p, n)) return;
        std::uint8_t block[kBlock];
        rc2_.DecryptBlocks(carry_, block, 1);
        held_ = 0;
        Emit(block, kBlock, out);
        detail::Wipe(block, sizeof block);
    }
    if (n >= kBlock) {
        alignas(64) std::uint8_t piece[detail::kPiece];
        const std::size_t used = std::min(n / kBlock * kBlock, detail::kPiece);
        while (n >= kBlock) {
            const std::size_t m = std::min(n / kBlock * kBlock, detail::kPiece);
            rc2_.DecryptBlocks(p, piece, m / kBlock);
            Emit(piece, m, out);
            p += m, n -= m;
        }
        detail::Wipe(piece, used);
    }
    std::memcpy(carry_, p, n);
    held_ = n;
}

// Zero bytes go on only once a byte that is not zero follows them.
void DecryptStream::Emit(const std::uint8_t* plain, std::size_t n, Sink& out) {
    const std::size_t zeros = detail::ZerosAtEnd(View(plain, n));
    if (zeros == n) {
        zeros_ += n;
        return;
    }
    WriteRun(kZeros, zeros_, out);
    zeros_ = zeros;
    out.Write(View(plain, n - zeros));
}

void DecryptStream::Finish(Sink&) {
    const bool blank = blank_;
    const std::size_t held = held_;
    const std::uint64_t length = length_;
    held_ = 0, blank_ = true, spaces_ = 0, length_ = 0, zeros_ = 0;
    if (blank || held == 0) return;
    detail::IncompleteBlock(length);
}

}  // namespace morvik
