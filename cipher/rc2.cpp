#include <morvik/rc2.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <utility>

#include <morvik/blind_ascii.h>
#include <morvik/detail/hints.h>
#include <morvik/detail/output.h>
#include <morvik/detail/wipe.h>
#include <morvik/hex.h>

#include "message.h"
#include "pitable.h"

namespace morvik {
namespace {

// PITABLE entry (s mod 256) for every sum s of two bytes.
constexpr std::array<std::uint8_t, 512> kPiOfSum = [] {
    std::array<std::uint8_t, 512> t{};
    for (std::size_t s = 0; s < 512; ++s) t[s] = detail::kPiTable[s & 255];
    return t;
}();

}  // namespace

RC2::~RC2() {
    detail::Wipe(L_.data(), L_.size());
    detail::Wipe(ks_.K, sizeof ks_.K);
    detail::Wipe(key_);
    detail::Wipe(result_);  // a plaintext, after a decryption
}

std::uint8_t RC2::PiLookup(std::uint8_t x) noexcept { return detail::kPiTable[x]; }

std::int32_t RC2::KeyWord(std::int32_t i) const {
    const std::int64_t lo = 2 * static_cast<std::int64_t>(i), hi = lo + 1;
    if (lo < 0 || lo > 127 || hi > 127) throw Error(ErrorNumber::SubscriptOutOfRange);
    return L_[static_cast<std::size_t>(lo)] + 256 * L_[static_cast<std::size_t>(hi)];
}

void RC2::EffectiveKeyLength(std::int32_t lLen) noexcept {
    if (lLen >= kMinEffectiveBits && lLen <= kMaxEffectiveBits) effective_bits_ = lLen;
}

void RC2::Key(std::string_view sKey) {
    if (sKey.size() < kMinKeyLength || sKey.size() > kMaxKeyLength) return;
    if (sKey.size() <= key_.capacity()) {
        // No allocation, so nothing can fail half way; assign copes with sKey
        // viewing key_ itself. What is left of a longer old key is wiped (the
        // buffer past the old key holds no key bytes, by this same rule).
        const std::size_t old = key_.size();
        key_.assign(sKey.data(), sKey.size());
        if (const std::size_t size = key_.size(); old > size) {
            key_.resize(old);
            detail::Wipe(key_.data() + size, old - size);
            key_.resize(size);
        }
    } else {
        // Copy before touching anything: sKey may be a view of key_ itself,
        // and an allocation failure must leave the old key whole.
        std::string fresh(sKey);
        key_.swap(fresh);
        detail::Wipe(fresh);
    }
    ExpandKey();
}

// RFC 2268, section 2.
void RC2::ExpandKey() noexcept {
    const std::size_t T  = key_.size();
    const std::int32_t T1 = effective_bits_ != 0 ? effective_bits_ : static_cast<std::int32_t>(8 * T);
    const std::size_t T8 = static_cast<std::size_t>(T1 + 7) / 8;
    const unsigned    TM = (1u << (8 + T1 - 8 * static_cast<std::int32_t>(T8))) - 1u;
    const auto&       pi = detail::kPiTable;
    std::uint8_t*     L  = L_.data();

    // Both passes are chains of dependent table reads, so each step is kept to
    // one addition or exclusive or and one read: the forward pass reads the
    // doubled table with the unreduced sum of two bytes, and the backward
    // pass's exclusive or of two bytes needs no reduction.
    std::copy_n(reinterpret_cast<const std::uint8_t*>(key_.data()), T, L);
    unsigned last = L[T - 1];
    for (std::size_t i = T; i < 128; ++i) L[i] = static_cast<std::uint8_t>(last = kPiOfSum[last + L[i - T]]);
    unsigned next = L[128 - T8] = pi[L[128 - T8] & TM];
    for (std::size_t i = 128 - T8; i-- > 0;) L[i] = static_cast<std::uint8_t>(next = pi[next ^ L[i + T8]]);

    if constexpr (std::endian::native == std::endian::little)
        std::memcpy(ks_.K, L, sizeof ks_.K);
    else
        for (std::size_t i = 0; i < 64; ++i) ks_.K[i] = static_cast<std::uint16_t>(L[2 * i] | L[2 * i + 1] << 8);
}

std::string RC2::KeyHex() const { return hex::Write(key_); }

void RC2::KeyHex(std::string_view sKeyHex) {
    std::string key = hex::Read(sKeyHex);
    Key(key);
    detail::Wipe(key);
}

void RC2::EncryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const noexcept {
    detail::EncryptBlocks(ks_, in, out, blocks);
}

void RC2::DecryptBlocks(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) const noexcept {
    detail::DecryptBlocks(ks_, in, out, blocks);
}

namespace {

void FillToWholeBlocks(std::string& text) { text.append(RC2::FilledSize(text.size()) - text.size(), '\0'); }

constexpr std::size_t kPrefetchFrom = std::size_t{1} << 20;

bool Overlap(std::string_view a, const std::string& b) noexcept {
    const std::less<const char*> before;
    return before(a.data(), b.data() + b.capacity()) && before(b.data(), a.data() + a.size());
}

// result_'s new buffer, when the old one is too small for `n` bytes.
std::string Spare(const std::string& result, std::size_t n) {
    return result.capacity() < n ? detail::Reserved(n) : std::string();
}

}  // namespace

void RC2::Transform(bool encrypting, std::string_view in, std::string& spare, Copy copy) noexcept {
    const std::size_t size = encrypting ? FilledSize(in.size()) : in.size();
    if (result_.capacity() < size) {
        // The old buffer may hold a plaintext.
        result_.swap(spare);
        detail::Wipe(spare);
    }
    // A large result overwrites its predecessor's bytes in place, with stores
    // that go around the caches: nothing reads them back soon, and lines
    // written through the caches would first be read in from memory. A
    // decryption of 16 MiB into storage of the caller's took a sixth less
    // time here. Bytes past the old result's end are appended; resizing over
    // them first would write them twice.
    const bool        large = size >= kPrefetchFrom;
    const std::size_t reuse = large ? std::min(result_.size(), size) : 0;
    result_.resize(reuse);
    alignas(64) std::uint8_t piece[detail::kPiece];
    for (std::size_t at = 0; at < size; at += detail::kPiece) {
        const std::size_t n    = std::min(detail::kPiece, size - at);
        const std::size_t have = std::min(n, in.size() - at);
        const auto*       src  = reinterpret_cast<const std::uint8_t*>(in.data() + at);
        // Outputs far larger than the caches: ask for the lines this piece
        // will fill while the cipher works, rather than when the copy into
        // them stalls on each one (a tenth off a 64 MiB message here). The
        // cipher writes into a caller's storage itself, and needs no such help.
        if (large && (copy.appended || at + n > reuse)) {
            for (std::size_t line = 0; line < n; line += 64) {
                if (at + line >= reuse) detail::PrefetchForWrite(result_.data() + at + line);
                if (copy.appended) detail::PrefetchForWrite(copy.appended->data() + at + line);
            }
        }
        if (have < n) {
            // The final block, filled (only when encrypting).
            std::memcpy(piece, src, have);
            std::memset(piece + have, 0, n - have);
            src = piece;
        }
        // Storage of the caller's takes the cipher's output directly: the
        // piece is still in the cache for the last result's copy.
        auto* dst = copy.to ? reinterpret_cast<std::uint8_t*>(copy.to + at) : piece;
        if (encrypting)
            EncryptBlocks(src, dst, n / kBlockSize);
        else
            DecryptBlocks(src, dst, n / kBlockSize);
        const std::size_t over = at < reuse ? std::min(n, reuse - at) : 0;
        if (over != 0) detail::CopyAroundCaches(result_.data() + at, dst, over);
        result_.append(reinterpret_cast<const char*>(dst) + over, n - over);
        if (copy.appended) copy.appended->append(reinterpret_cast<const char*>(dst), n);
    }
    if (reuse != 0) detail::FenceCopies();
    detail::Wipe(piece, std::min(size, detail::kPiece));
}

void RC2::EncryptIntoResult(std::string& sText) {
    FillToWholeBlocks(sText);
    std::string spare = Spare(result_, sText.size());
    Transform(true, sText, spare, {});
}

std::string RC2::Encrypt(std::string& sText) {
    FillToWholeBlocks(sText);
    std::string out   = detail::Reserved(sText.size());
    std::string spare = Spare(result_, sText.size());
    Transform(true, sText, spare, {&out, nullptr});
    return out;
}

void RC2::EncryptTo(std::string_view sText, char* out) {
    // The last result is rewritten from its start while the input is read,
    // so a view of it is copied first (a plaintext: wiped after).
    if (Overlap(sText, result_)) {
        std::string text(sText);
        EncryptTo(text, out);
        detail::Wipe(text);
        return;
    }
    std::string spare = Spare(result_, FilledSize(sText.size()));
    Transform(true, sText, spare, {nullptr, out});
}

std::size_t RC2::DecryptBlocksToResult(std::string_view sText, Copy copy) {
    std::string spare = Spare(result_, sText.size());
    Transform(false, sText, spare, copy);
    const std::size_t keep = sText.size() - detail::ZerosAtEnd(result_);
    result_.resize(keep);
    return keep;
}

std::string RC2::Decrypt(std::string_view sText) {
    if (detail::SpacesOnly(sText)) return {};
    if (sText.size() % kBlockSize != 0) detail::IncompleteBlock(sText.size());
    // The last result is rewritten from its start while the input is read, so
    // a view of it is copied first.
    if (Overlap(sText, result_)) return Decrypt(std::string(sText));
    std::string out = detail::Reserved(sText.size());
    out.resize(DecryptBlocksToResult(sText, {&out, nullptr}));
    return out;
}

std::size_t RC2::DecryptTo(std::string_view sText, char* out) {
    if (detail::SpacesOnly(sText)) return 0;
    if (sText.size() % kBlockSize != 0) detail::IncompleteBlock(sText.size());
    if (Overlap(sText, result_)) return DecryptTo(std::string(sText), out);
    return DecryptBlocksToResult(sText, {nullptr, out});
}

std::size_t RC2::DecryptedSize(std::string_view sText) const {
    if (detail::SpacesOnly(sText)) return 0;
    if (sText.size() % kBlockSize != 0) detail::IncompleteBlock(sText.size());
    std::uint8_t block[kBlockSize];
    std::size_t size = 0;
    for (std::size_t end = sText.size(); end > 0 && size == 0; end -= kBlockSize) {
        DecryptBlocks(reinterpret_cast<const std::uint8_t*>(sText.data()) + end - kBlockSize, block, 1);
        const std::string_view plain(reinterpret_cast<const char*>(block), kBlockSize);
        const std::size_t zeros = detail::ZerosAtEnd(plain);
        if (zeros < kBlockSize) size = end - zeros;
    }
    detail::Wipe(block, sizeof block);
    return size;
}

std::string RC2::EncryptHex(std::string_view sHex) {
    std::string bytes = hex::Read(sHex);
    return Encrypt(bytes);
}

std::string RC2::DecryptHex(std::string_view sHex) { return Decrypt(hex::Read(sHex)); }

std::string RC2::EncryptAsc(std::string& sText) {
    EncryptIntoResult(sText);
    return BlindAscii::Full2Asc(result_);
}

std::string RC2::DecryptAsc(std::string_view sAsc) { return Decrypt(BlindAscii::Asc2Full(sAsc)); }

std::string RC2::ResultHex() const { return hex::Write(result_); }
std::string RC2::ResultAsc() const { return BlindAscii::Full2Asc(result_); }

}  // namespace morvik
