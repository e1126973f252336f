// Decrypt, DecryptHex and DecryptAsc of any text under a fuzzed key and
// effective length. Only morvik::Error 5, 6 or 9 may escape; a failure leaves
// Result as it was; a success returns what Result then holds, without
// trailing zero bytes; and the text forms are exactly Decrypt of their bytes.
// Input: effective length (choice byte and 16-bit value), key form and
// length, the key, then the ciphertext text.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include <morvik/blind_ascii.h>
#include <morvik/hex.h>
#include <morvik/kernel.h>
#include <morvik/rc2.h>
#include "fuzz/input.h"

namespace {

using morvik::fuzz::Check;

struct Outcome {
    int error = 0;
    std::string bytes;
    bool operator==(const Outcome&) const = default;
};

bool Blank(std::string_view bytes) { return bytes.find_first_not_of(' ') == std::string_view::npos; }

// One member call, with what it must keep whether it fails or not. A blank
// ciphertext returns nothing and leaves Result alone.
Outcome Call(morvik::RC2& rc2, const std::function<std::string()>& member, bool blank) {
    const std::string before = rc2.Result();
    try {
        std::string out = member();
        Check(out.empty() || out.back() != '\0');
        Check(rc2.Result() == (blank ? before : out));
        return {0, out};
    } catch (const morvik::Error& e) {
        Check(e.code() == 5 || e.code() == 6 || e.code() == 9);
        Check(rc2.Result() == before);
        return {e.code(), {}};
    }
}

// Decrypt of bytes, from the block reference: blank gives nothing, a
// partial block fails, every trailing zero byte goes.
Outcome Expected(const morvik::RC2& rc2, std::string bytes) {
    if (Blank(bytes)) return {};
    if (bytes.size() % 8 != 0) return {5, {}};
    const morvik::detail::KeySchedule ks = morvik::fuzz::Schedule(rc2);
    auto* p = reinterpret_cast<std::uint8_t*>(bytes.data());
    morvik::detail::DecryptBlocksScalar(ks, p, p, bytes.size() / 8);
    return {0, morvik::fuzz::WithoutTrailingZeros(bytes)};
}

std::int32_t EffectiveLength(std::uint8_t choice, std::uint16_t value) {
    constexpr std::int32_t kEdges[] = {-1, 0, 1, 1024, 1025, INT32_MIN, INT32_MAX};
    constexpr std::size_t kCount = sizeof kEdges / sizeof kEdges[0];
    return choice < kCount ? kEdges[choice] : static_cast<std::int16_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    morvik::fuzz::Input in(data, size);
    const std::uint8_t choice = in.Byte() % 16;
    const std::int32_t bits = EffectiveLength(choice, in.Word());
    const std::uint8_t keyForm = in.Byte();
    const std::size_t keyLength = in.Byte() % 141;
    const bool hexKey = keyForm & 1;
    const std::string_view keyText = in.Bytes(hexKey ? 2 * keyLength : keyLength);
    const std::string_view text = in.Rest();

    morvik::RC2 rc2;
    rc2.EffectiveKeyLength(bits);
    Check(rc2.EffectiveKeyLength() == (bits >= 0 && bits <= 1024 ? bits : 0));
    const std::string key = hexKey ? morvik::hex::Read(keyText) : std::string(keyText);
    if (hexKey)
        rc2.KeyHex(keyText);
    else
        rc2.Key(keyText);
    Check(rc2.Key() == (key.size() >= 1 && key.size() <= 128 ? key : ""));

    // Something in Result, so that a failure that cleared it would show.
    std::string seed = "previous result";
    rc2.Encrypt(seed);

    // Each member, and the bytes it must decrypt (the text forms may fail
    // reading them, with the same error).
    const std::function<std::string()> forms[][2] = {
        {[&] { return rc2.Decrypt(text); }, [&] { return std::string(text); }},
        {[&] { return rc2.DecryptHex(text); }, [&] { return morvik::hex::Read(text); }},
        {[&] { return rc2.DecryptAsc(text); }, [&] { return morvik::BlindAscii::Asc2Full(text); }},
    };
    for (const auto& [member, bytesOf] : forms) {
        Outcome want;
        bool blank = false;
        try {
            const std::string bytes = bytesOf();
            blank = Blank(bytes);
            want = Expected(rc2, bytes);
        } catch (const morvik::Error& e) {
            want = {e.code(), {}};
        }
        Check(Call(rc2, member, blank) == want);
    }
    return 0;
}
