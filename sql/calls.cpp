#include "calls.h"

#include <algorithm>
#include <cstring>

#include <morvik/batch.h>
#include <morvik/blind_ascii.h>
#include <morvik/detail/wipe.h>
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

// Eight bytes at a time: this runs on every value of a column.
bool Ascii(std::string_view s) {
    std::uint64_t any = 0;
    std::size_t   i   = 0;
    for (; i + 8 <= s.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, s.data() + i, 8);
        any |= word;
    }
    for (; i < s.size(); ++i) any |= static_cast<unsigned char>(s[i]);
    return (any & 0x8080808080808080u) == 0;
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

Keyed::~Keyed() {
    detail::Wipe(out_);
    detail::Wipe(text_in_);
}

bool Keyed::Same(Arg key, long long bits) const {
    return bits == bits_ && key.text == text_ && key.data == typed_;
}

std::string_view Keyed::Run(Call call, Arg value) {
    using front::Form;
    const bool decrypting = Decrypts(call);
    return Faulting(decrypting, [&]() -> std::string_view {
        if (!decrypting) {
            std::string plain = Bytes(value, "the plaintext");
            if (const auto zeros = front::ZerosAtEnd(plain); zeros > 0) throw front::TrailingZeros(zeros, "the plaintext", "");
            detail::Wipe(out_.data(), out_.size());
            out_.resize(RC2::FilledSize(plain.size()));
            rc2_.EncryptTo(plain, out_.data());
            detail::Wipe(plain);
            if (call == Call::EncryptToHex) out_ = hex::Write(out_);
            else if (call == Call::EncryptToAsc) out_ = BlindAscii::Full2Asc(out_);
            return out_;
        }
        const Form form = call == Call::DecryptFromHex ? Form::Hex : call == Call::DecryptFromAsc ? Form::Asc : Form::Raw;
        // Hex and armoured text in ASCII are already the code page's bytes:
        // read in place, not copied.
        std::string_view text = value.data;
        if (TakesText(call) && value.text && !Ascii(value.data))
            text = text_in_ = front::TextBytes(value.data, form == Form::Hex ? "the hex text" : "the armoured text");
        try {
            const MessageForm as = form == Form::Hex ? MessageForm::Hex : form == Form::Asc ? MessageForm::Asc : MessageForm::Raw;
            return DecryptOne(rc2_, text, as, out_);
        } catch (const Error& error) {
            throw Fault{static_cast<int>(error.number()), front::ExplainDecrypt(error, form, text), true};
        }
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
