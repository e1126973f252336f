#include "cipher/rc2.h"

#include <algorithm>
#include <utility>

#include "armour/blind_ascii.h"
#include "cipher/hex.h"
#include "cipher/pitable.h"
#include "cipher/wipe.h"

namespace morvik {

const char* ErrorText(ErrorNumber number) noexcept {
    switch (number) {
        case ErrorNumber::InvalidArgument:     return "Invalid procedure call or argument";
        case ErrorNumber::Overflow:            return "Overflow";
        case ErrorNumber::SubscriptOutOfRange: return "Subscript out of range";
    }
    return "";
}

RC2::~RC2() {
    detail::Wipe(L_.data(), L_.size());
    detail::Wipe(ks_.K, sizeof ks_.K);
    detail::Wipe(key_);
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
    // Copy before touching anything: sKey may be a view of key_ itself, and an
    // allocation failure must leave the old key whole.
    std::string fresh(sKey);
    key_.swap(fresh);
    detail::Wipe(fresh);
    ExpandKey();
}

// RFC 2268, section 2.
void RC2::ExpandKey() noexcept {
    const std::size_t T  = key_.size();
    const std::int32_t T1 = effective_bits_ != 0 ? effective_bits_ : static_cast<std::int32_t>(8 * T);
    const std::size_t T8 = static_cast<std::size_t>(T1 + 7) / 8;
    const unsigned    TM = (1u << (8 + T1 - 8 * static_cast<std::int32_t>(T8))) - 1u;

    std::copy_n(reinterpret_cast<const std::uint8_t*>(key_.data()), T, L_.begin());
    for (std::size_t i = T; i < 128; ++i)
        L_[i] = PiLookup(static_cast<std::uint8_t>(L_[i - 1] + L_[i - T]));
    L_[128 - T8] = PiLookup(static_cast<std::uint8_t>(L_[128 - T8] & TM));
    for (std::size_t i = 128 - T8; i-- > 0;)
        L_[i] = PiLookup(static_cast<std::uint8_t>(L_[i + 1] ^ L_[i + T8]));

    for (std::int32_t i = 0; i < 64; ++i) ks_.K[i] = static_cast<std::uint16_t>(KeyWord(i));
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

std::string RC2::Encrypt(std::string& sText) {
    if (const std::size_t tail = sText.size() % kBlockSize; tail != 0)
        sText.append(kBlockSize - tail, '\0');
    std::string output(sText.size(), '\0');
    EncryptBlocks(reinterpret_cast<const std::uint8_t*>(sText.data()),
                  reinterpret_cast<std::uint8_t*>(output.data()), output.size() / kBlockSize);
    result_ = output;
    return output;
}

std::string RC2::Decrypt(std::string_view sText) {
    if (sText.find_first_not_of(' ') == std::string_view::npos) return {};
    if (sText.size() % kBlockSize != 0) throw Error(ErrorNumber::InvalidArgument);
    std::string output(sText.size(), '\0');
    DecryptBlocks(reinterpret_cast<const std::uint8_t*>(sText.data()),
                  reinterpret_cast<std::uint8_t*>(output.data()), output.size() / kBlockSize);
    const std::size_t keep = output.find_last_not_of('\0');
    output.resize(keep == std::string::npos ? 0 : keep + 1);
    result_ = output;
    return output;
}

std::string RC2::EncryptHex(std::string_view sHex) {
    std::string bytes = hex::Read(sHex);
    return Encrypt(bytes);
}

std::string RC2::DecryptHex(std::string_view sHex) { return Decrypt(hex::Read(sHex)); }

std::string RC2::EncryptAsc(std::string& sText) { return BlindAscii::Full2Asc(Encrypt(sText)); }

std::string RC2::DecryptAsc(std::string_view sAsc) {
    const std::string decoded = BlindAscii::Asc2Full(sAsc);
    return Decrypt(decoded);
}

std::string RC2::ResultHex() const { return hex::Write(result_); }
std::string RC2::ResultAsc() const { return BlindAscii::Full2Asc(result_); }

}  // namespace morvik
