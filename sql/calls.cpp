#include "calls.h"

#include <algorithm>

#include <morvik/blind_ascii.h>
#include <morvik/error.h>
#include <morvik/hex.h>

#include <morvik/front/chains.h>
#include <morvik/front/explain.h>
#include <morvik/front/failure.h>
#include <morvik/front/keys.h>

namespace morvik::sql {
namespace {

// Runs `f`, turning the layer's failures into faults. Errors of the object
// (5, 6) on a decryption are bad values; everything else is not.
template <class F> auto Faulting(bool decrypting, F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const front::Failure& failure) {
        const auto status = failure.status();
        const bool object = status == front::Exit::Invalid || status == front::Exit::Overflow;
        throw Fault{object ? static_cast<int>(status) : 0, failure.what(), object && decrypting};
    }
}

bool Ascii(std::string_view s) {
    unsigned char any = 0;
    for (char c : s) any |= static_cast<unsigned char>(c);
    return any < 0x80;
}

// Text is UTF-8 from the engine and becomes the code page's bytes. Where it
// is ASCII alone, as hex and armoured text are, it already is those bytes:
// the extensions build only where the code page is Windows-1252.
std::string Bytes(Arg arg, const std::string& what) {
    return arg.text && !Ascii(arg.data) ? front::TextBytes(arg.data, what) : std::string(arg.data);
}

}  // namespace

Keyed::Keyed(Arg key, long long bits) : typed_(key.data), text_(key.text), bits_(bits) {
    Faulting(false, [&] {
        front::CheckEffectiveBits(bits, "bits");
        std::string bytes = Bytes(key, "key");
        front::CheckKeyLength(bytes, "key");
        rc2_.EffectiveKeyLength(static_cast<std::int32_t>(bits));
        rc2_.Key(bytes);
        std::fill(bytes.begin(), bytes.end(), '\0');
        return 0;
    });
}

bool Keyed::Same(Arg key, long long bits) const {
    return bits == bits_ && key.text == text_ && key.data == typed_;
}

std::string Keyed::Run(Call call, Arg value) {
    using front::Form;
    const bool decrypting = Decrypts(call);
    return Faulting(decrypting, [&]() -> std::string {
        if (!decrypting) {
            std::string plain = Bytes(value, "the plaintext");
            if (const auto zeros = front::ZerosAtEnd(plain); zeros > 0) throw front::TrailingZeros(zeros, "the plaintext", "");
            std::string cipher(RC2::FilledSize(plain.size()), '\0');
            rc2_.EncryptTo(plain, cipher.data());
            if (call == Call::EncryptToHex) return hex::Write(cipher);
            if (call == Call::EncryptToAsc) return BlindAscii::Full2Asc(cipher);
            return cipher;
        }
        const Form form = call == Call::DecryptFromHex ? Form::Hex : call == Call::DecryptFromAsc ? Form::Asc : Form::Raw;
        const std::string text = TakesText(call) ? Bytes(value, form == Form::Hex ? "the hex text" : "the armoured text")
                                                 : std::string(value.data);
        try {
            switch (form) {
                case Form::Hex: return rc2_.DecryptHex(text);
                case Form::Asc: return rc2_.DecryptAsc(text);
                case Form::Raw: return rc2_.Decrypt(text);
            }
        } catch (const Error& error) {
            throw Fault{static_cast<int>(error.number()), front::ExplainDecrypt(error, form, text), true};
        }
        return {};
    });
}

std::string TextOfBytes(std::string_view bytes) { return front::BytesToUtf8(bytes); }

std::string BytesOfText(std::string_view utf8) {
    return Faulting(false, [&] { return front::TextBytes(utf8, "the text"); });
}

std::string Message(const char* function, const Fault& fault) {
    std::string m = std::string(function) + ": ";
    if (fault.number != 0) m += "error " + front::Decimal(fault.number) + ": ";
    return m + fault.message;
}

}  // namespace morvik::sql
