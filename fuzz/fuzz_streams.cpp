// The core's streams, fed the input in pieces cut at fuzzed places, against
// the whole-text member each stands for: both give the same bytes, or both
// fail with the same error at the same position. One stream per form serves
// every input, so each run also checks that a stream starts over after
// Finish and after an error.
// Input: the form, the number of cuts and each piece's length (two bytes,
// little-endian, so pieces reach past the library's own), then the text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <morvik/blind_ascii.h>
#include <morvik/hex.h>
#include <morvik/rc2.h>
#include "fuzz/input.h"

namespace {

using namespace morvik;
using morvik::fuzz::Check;

struct Outcome {
    int error = 0;
    std::string bytes;
    ErrorPosition at;

    bool operator==(const Outcome& o) const {
        return error == o.error && bytes == o.bytes && at.kind == o.at.kind && at.offset == o.at.offset &&
               at.character == o.at.character && at.group == o.at.group && at.size == o.at.size &&
               std::memcmp(at.chars, o.at.chars, sizeof at.chars) == 0 && at.bytes == o.at.bytes &&
               at.final_group == o.at.final_group && at.mark == o.at.mark && at.value == o.at.value &&
               at.code_point == o.at.code_point;
    }
};

Outcome Catch(const std::function<std::string()>& call) {
    try {
        return {0, call(), {}};
    } catch (const Error& e) {
        return {e.code(), {}, e.position()};
    }
}

template <class Stream>
std::string Run(Stream& stream, const std::vector<std::string_view>& pieces) {
    std::string out;
    for (const std::string_view piece : pieces) stream.Update(piece, out);
    stream.Finish(out);
    return out;
}

RC2& Keyed() {
    static RC2* const rc2 = [] {
        auto* r = new RC2;
        r->EffectiveKeyLength(100);
        r->Key("stream key");
        return r;
    }();
    return *rc2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RC2& rc2 = Keyed();
    static EncryptStream encrypt(rc2);
    static DecryptStream decrypt(rc2);
    static hex::WriteStream hex_write;
    static hex::ReadStream hex_read;
    static AscEncodeStream encode;
    static AscDecodeStream decode;

    morvik::fuzz::Input in(data, size);
    const std::uint8_t form = in.Byte() % 6;
    std::vector<std::uint16_t> lengths(in.Byte() % 16);
    for (auto& n : lengths) n = in.Word();
    const std::string_view text = in.Rest();

    std::vector<std::string_view> pieces;
    std::string_view rest = text;
    for (const std::uint16_t n : lengths) {
        pieces.push_back(rest.substr(0, n));
        rest.remove_prefix(pieces.back().size());
    }
    pieces.push_back(rest);

    Outcome whole, streamed;
    switch (form) {
        case 0:
            whole    = Catch([&] { std::string s(text); return rc2.Encrypt(s); });
            streamed = Catch([&] { return Run(encrypt, pieces); });
            break;
        case 1:
            whole    = Catch([&] { return rc2.Decrypt(text); });
            streamed = Catch([&] { return Run(decrypt, pieces); });
            break;
        case 2:
            whole    = Catch([&] { return hex::Write(text); });
            streamed = Catch([&] { return Run(hex_write, pieces); });
            break;
        case 3:
            whole    = Catch([&] { return hex::Read(text); });
            streamed = Catch([&] { return Run(hex_read, pieces); });
            break;
        case 4:
            whole    = Catch([&] { return BlindAscii::Full2Asc(text); });
            streamed = Catch([&] { return Run(encode, pieces); });
            break;
        case 5:
            whole    = Catch([&] { return BlindAscii::Asc2Full(text); });
            streamed = Catch([&] { return Run(decode, pieces); });
            break;
    }
    Check(streamed == whole);
    return 0;
}
