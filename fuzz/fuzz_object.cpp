// Drives one RC2 object with arbitrary bytes: a key and effective length, then
// every member on slices of the input. Bad input may raise morvik::Error and
// nothing else; what a member promises (round trips, lengths, Result left
// alone by a failure) must hold for every input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <morvik/blind_ascii.h>
#include <morvik/hex.h>
#include <morvik/rc2.h>

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

std::string Stripped(std::string s) {
    s.erase(s.find_last_not_of('\0') + 1);
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    if (in.size() < 3) return 0;

    morvik::RC2 rc2;
    rc2.EffectiveKeyLength(static_cast<std::int32_t>(static_cast<std::uint8_t>(in[0]) * 5) - 100);
    const std::size_t keyLength = static_cast<std::uint8_t>(in[1]) % 140;
    const std::string_view rest = in.substr(2);
    if (in[2] & 1)
        rc2.Key(rest.substr(0, keyLength));
    else
        rc2.KeyHex(rest.substr(0, 2 * keyLength));
    const std::string_view text = rest.substr(std::min(rest.size(), keyLength));

    std::string plain(text);
    const std::string cipher = rc2.Encrypt(plain);
    Check(cipher.size() % 8 == 0 && plain.size() == cipher.size() && plain.substr(0, text.size()) == text);
    Check(rc2.Decrypt(cipher) == Stripped(plain) || (cipher.find_first_not_of(' ') == std::string::npos));

    std::string again(text);
    const std::string asc = rc2.EncryptAsc(again);
    Check(asc == morvik::BlindAscii::Full2Asc(cipher) && rc2.ResultAsc() == asc);
    Check(rc2.DecryptAsc(asc) == rc2.Result());

    // The input as foreign ciphertext in every form.
    for (int form = 0; form < 3; ++form) {
        const std::string before = rc2.Result();
        try {
            const std::string out = form == 0 ? rc2.Decrypt(text) : form == 1 ? rc2.DecryptHex(text) : rc2.DecryptAsc(text);
            Check(out.empty() || out.back() != '\0');
        } catch (const morvik::Error&) {
            Check(rc2.Result() == before);
        }
    }

    // The codecs on their own.
    Check(morvik::hex::Read(morvik::hex::Write(text)) == text);
    Check(morvik::hex::Read(text).size() == (text.size() + 1) / 2);
    Check(morvik::BlindAscii::Asc2Full(morvik::BlindAscii::Full2Asc(text)) == text);
    try {
        const std::string decoded = morvik::BlindAscii::Asc2Full(text);
        Check(decoded.size() <= (text.size() + 3) / 4 * 4);
    } catch (const morvik::Error& e) {
        Check(e.code() == 5 || e.code() == 6);
    }
    return 0;
}
