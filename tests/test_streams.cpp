// The streams against the whole-text members: every input, cut into pieces of
// every kind (one byte at a time, empty pieces, pieces around the library's
// own 16 KiB pieces and the tool's 64 KiB chunks), must give the member's
// bytes, or its error with the same position. Inputs run across the same
// sizes and across block and group edges, and failing inputs put the fault in
// every place a stream can meet it. Each form keeps one stream for all its
// runs, so every run after the first also checks that a stream starts over
// after Finish and after an error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <morvik/blind_ascii.h>
#include <morvik/cp1252.h>
#include <morvik/detail/output.h>
#include <morvik/error.h>
#include <morvik/hex.h>
#include <morvik/rc2.h>
#include <morvik/sink.h>

namespace morvik {
namespace {

using Kind = ErrorPosition::Kind;

constexpr std::size_t kPiece = detail::kPiece;
constexpr std::size_t kChunk = 64 * 1024;  // the tool's reads
constexpr std::string_view kAlphabet = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ+-/=";

bool SamePosition(const ErrorPosition& a, const ErrorPosition& b) {
    return a.kind == b.kind && a.offset == b.offset && a.character == b.character && a.group == b.group &&
           a.size == b.size && std::memcmp(a.chars, b.chars, sizeof a.chars) == 0 && a.bytes == b.bytes &&
           a.final_group == b.final_group && a.mark == b.mark && a.value == b.value && a.code_point == b.code_point;
}

struct Outcome {
    std::string   bytes;
    int           error = 0;
    ErrorPosition at;

    friend bool operator==(const Outcome& a, const Outcome& b) {
        return a.bytes == b.bytes && a.error == b.error && SamePosition(a.at, b.at);
    }
    friend std::ostream& operator<<(std::ostream& os, const Outcome& o) {
        if (o.error == 0) return os << o.bytes.size() << " bytes: " << hex::Write(o.bytes.substr(0, 40));
        return os << "error " << o.error << " kind " << static_cast<int>(o.at.kind) << " offset " << o.at.offset
                  << " size " << o.at.size << " group " << o.at.group << " character " << o.at.character
                  << " bytes " << o.at.bytes << " final " << o.at.final_group << " mark " << int(o.at.mark)
                  << " value " << o.at.value << " chars " << std::string_view(o.at.chars, 4);
    }
};

Outcome Catch(const std::function<std::string()>& call) {
    try {
        return {call(), 0, {}};
    } catch (const Error& e) {
        return {{}, e.code(), e.position()};
    }
}

using Cuts = std::vector<std::size_t>;

// Feeds `input` in pieces of the lengths in `cuts` (the rest in one last
// piece) and finishes.
template <class Stream>
std::string Feed(Stream& stream, std::string_view input, const Cuts& cuts) {
    std::string out;
    std::size_t at = 0;
    for (std::size_t n : cuts) {
        n = std::min(n, input.size() - at);
        stream.Update(input.substr(at, n), out);
        at += n;
    }
    stream.Update(input.substr(at), out);
    stream.Finish(out);
    return out;
}

struct Form {
    const char* name;
    std::function<std::string(std::string_view)> whole;
    std::function<std::string(std::string_view, const Cuts&)> streamed;
};

template <class Stream, class... Args>
std::function<std::string(std::string_view, const Cuts&)> Streamed(Args&... args) {
    auto stream = std::make_shared<Stream>(args...);
    return [stream](std::string_view in, const Cuts& cuts) { return Feed(*stream, in, cuts); };
}

class Streams : public ::testing::Test {
protected:
    Streams() {
        rc2_.EffectiveKeyLength(77);
        rc2_.Key("streams");
    }

    std::string Bytes(std::size_t n, std::string_view alphabet = {}) {
        std::string s(n, '\0');
        for (auto& c : s)
            c = alphabet.empty() ? static_cast<char>(rng_() & 0xFF) : alphabet[rng_() % alphabet.size()];
        return s;
    }

    // Plaintexts whose end, middle or whole is a run of zero bytes.
    std::string Plain(std::size_t n) {
        std::string s = Bytes(n);
        switch (rng_() % 4) {
            case 0: break;
            case 1: s.replace(n / 2, n - n / 2, n - n / 2, '\0'); break;
            case 2: s.replace(n / 4, n / 2, n / 2, '\0'); break;
            case 3: s.assign(n, '\0'); break;
        }
        return s;
    }

    std::string Cipher(std::size_t n) {
        std::string plain = Plain(n);
        return rc2_.Encrypt(plain);
    }

    // Armour-like text of exactly n characters that decodes without error:
    // each group starts with a digit below 58, so its value stays below
    // 2^24, and the other characters may be anything, foreign ones included.
    std::string Armour(std::size_t n) {
        std::string s = Bytes(n, "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUV+-/= \n\xE9");
        for (std::size_t i = 0; i + 1 < n; i += 4) s[i] = kAlphabet[rng_() % 58];
        if (n >= 2) {
            const std::size_t final_chars = (n - 2) % 4 + 1;
            const char mark = "01234"[rng_() % 5];
            s.back() = mark;
            // The final group fits the bytes its mark gives it.
            if (mark == '1' || mark == '2') s.replace(n - 1 - final_chars, final_chars, final_chars, '0');
        }
        return s;
    }

    // Pieces of one kind, chosen at random.
    Cuts Pieces(std::size_t total) {
        Cuts cuts;
        const auto style = rng_() % 7;
        for (std::size_t sum = 0; sum <= total;) {
            std::size_t n = 0;
            switch (style) {
                case 0: n = 1; break;                                        // a byte at a time
                case 1: n = rng_() % 10; break;                              // tiny, empty ones too
                case 2: n = 1 + rng_() % 300; break;
                case 3: n = kPiece + rng_() % 5 - 2; break;                  // around the library's pieces
                case 4: n = kChunk + rng_() % 3 - 1; break;                  // around the tool's chunks
                case 5: n = rng_() % (3 * kChunk); break;
                case 6: n = total + 1; break;                                // all at once
            }
            cuts.push_back(n);
            sum += n == 0 ? 1 : n;  // empty pieces must not go on for ever
        }
        return cuts;
    }

    // Lengths across every edge: blocks, groups, the pieces of every path,
    // the tool's chunk, and one byte either side of each.
    static std::vector<std::size_t> Lengths() {
        std::vector<std::size_t> lengths;
        for (std::size_t n = 0; n <= 26; ++n) lengths.push_back(n);
        for (std::size_t edge : {kPiece, kPiece / 2, kPiece / 4 * 3, kPiece / 3 * 4, 2 * kPiece, kChunk,
                                 kChunk / 4 * 3, kChunk + kPiece})
            for (int delta : {-9, -8, -5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5, 8, 9})
                lengths.push_back(static_cast<std::size_t>(static_cast<std::ptrdiff_t>(edge) + delta));
        return lengths;
    }

    void Same(const Form& form, const std::string& input, const Outcome* model = nullptr) {
        const Outcome whole = Catch([&] { return form.whole(input); });
        if (model) {
            ASSERT_EQ(whole, *model) << form.name << ": the member against the model, input of " << input.size();
        }
        ++seen_[whole.error == 0 ? -1 : static_cast<int>(whole.at.kind) * 100 + whole.at.final_group];
        for (int round = 0; round < 3; ++round) {
            const Cuts cuts = round == 0 ? Cuts(input.size() + 1, 1) : Pieces(input.size());
            ASSERT_EQ(Catch([&] { return form.streamed(input, cuts); }), whole)
                << form.name << ": input of " << input.size() << " bytes, " << hex::Write(input.substr(0, 24))
                << "..., first piece " << cuts.front() << " of " << cuts.size();
        }
    }

    RC2 rc2_;
    std::mt19937_64 rng_{20261209};
    std::map<int, int> seen_;  // outcomes by kind of error, so that a test shows it met each
};

// The error the members must raise, worked out independently of the library.
Outcome DecryptModel(std::string_view cipher) {
    if (cipher.find_first_not_of(' ') == std::string_view::npos || cipher.size() % 8 == 0) return {};
    Outcome o;
    o.error     = 5;
    o.at.kind   = Kind::IncompleteBlock;
    o.at.size   = static_cast<std::uint32_t>(cipher.size() % 8);
    o.at.offset = cipher.size() - o.at.size;
    return o;
}

std::uint64_t Digit(char c) {
    const auto at = kAlphabet.find(c);
    return at == std::string_view::npos ? 0 : at;
}

std::uint64_t Value(std::string_view group) {
    std::uint64_t n = 0;
    for (char c : group) n = n * 66 + Digit(c);
    return n;
}

// Only the error: the bytes are the member's (test_codecs checks those
// against a model of the format).
std::optional<Outcome> Asc2FullError(std::string_view text) {
    if (text.size() < 2) return std::nullopt;
    const char mark = text.back();
    const std::string_view body = text.substr(0, text.size() - 1);
    const std::size_t groups = (body.size() + 3) / 4;
    Outcome o;
    o.at.kind = Kind::Group;
    for (std::size_t g = 0; g < groups; ++g) {
        const std::string_view chars = body.substr(4 * g, 4);
        const bool final = g + 1 == groups;
        const std::uint64_t tail = Digit(mark), count = tail == 0 ? 3 : tail;
        if (final && count > 4) {
            o.error        = 6;
            o.at.kind      = Kind::TailMark;
            o.at.character = text.size();
            o.at.mark      = mark;
            o.at.value     = static_cast<std::int32_t>(tail);
            return o;
        }
        if (Value(chars) < (std::uint64_t{1} << (8 * (final ? count : 3)))) continue;
        o.error        = 5;
        o.at.group     = g + 1;
        o.at.character = 4 * g + 1;
        o.at.size      = static_cast<std::uint32_t>(chars.size());
        std::memcpy(o.at.chars, chars.data(), chars.size());
        o.at.bytes = static_cast<std::uint32_t>(final ? count : 3);
        if (final) {
            o.at.final_group = true;
            o.at.mark        = mark;
            o.at.value       = static_cast<std::int32_t>(tail);
        }
        return o;
    }
    return std::nullopt;
}

TEST_F(Streams, EncryptIsTheMember) {
    const Form form{"encrypt", [&](std::string_view t) { std::string s(t); return rc2_.Encrypt(s); },
                    Streamed<EncryptStream>(rc2_)};
    for (std::size_t n : Lengths()) Same(form, Plain(n));
}

TEST_F(Streams, DecryptIsTheMemberWithItsErrors) {
    const Form form{"decrypt", [&](std::string_view t) { return rc2_.Decrypt(t); }, Streamed<DecryptStream>(rc2_)};
    for (std::size_t n : Lengths()) {
        for (int kind = 0; kind < 6; ++kind) {
            std::string input;
            switch (kind) {
                case 0: input = Cipher(n); break;
                case 1: input = Bytes(n); break;                                // any length: whole blocks or not
                case 2: input.assign(n, ' '); break;                            // blank
                case 3: input = std::string(n, ' ') + Cipher(rng_() % 40); break;
                case 4: input = Cipher(n) + std::string(rng_() % 12, ' '); break;
                case 5: input = std::string(n, ' ') + "x"; break;               // blank but for its last byte
            }
            const Outcome model = DecryptModel(input);
            if (model.error) Same(form, input, &model);
            else Same(form, input);
        }
    }
    EXPECT_GT(seen_[-1], 200);
    EXPECT_GT(seen_[static_cast<int>(Kind::IncompleteBlock) * 100], 100);
}

TEST_F(Streams, HexIsTheMember) {
    const Form write{"hex write", [](std::string_view t) { return hex::Write(t); }, Streamed<hex::WriteStream>()};
    const Form read{"hex read", [](std::string_view t) { return hex::Read(t); }, Streamed<hex::ReadStream>()};
    for (std::size_t n : Lengths()) {
        Same(write, Bytes(n));
        Same(read, Bytes(n, "0123456789abcdefABCDEF \t\nzg\r\x80"));
        Same(read, hex::Write(Bytes(n / 2)) + Bytes(n % 2, "0123456789abcdefABCDEF"));
    }
}

TEST_F(Streams, ArmourIsTheMember) {
    const Form encode{"armour encode", [](std::string_view t) { return BlindAscii::Full2Asc(t); },
                      Streamed<AscEncodeStream>()};
    for (std::size_t n : Lengths()) Same(encode, Bytes(n));
}

TEST_F(Streams, ArmourDecodeIsTheMemberWithItsErrors) {
    const Form decode{"armour decode", [](std::string_view t) { return BlindAscii::Asc2Full(t); },
                      Streamed<AscDecodeStream>()};
    for (std::size_t n : Lengths()) {
        const std::size_t groups = n < 2 ? 0 : (n + 2) / 4;  // of the body, the final one included
        for (int kind = 0; kind < 8; ++kind) {
            std::string input = Armour(n);
            switch (kind) {
                case 0: break;
                case 1: input = BlindAscii::Full2Asc(Bytes(n)); break;
                case 2:  // a group too large: the first, one at random, the last before the final one
                case 3:
                case 4:
                    if (groups >= 2) {
                        const std::size_t g = kind == 2 ? 0 : kind == 3 ? rng_() % (groups - 1) : groups - 2;
                        input.replace(4 * g, 4, "ZZZZ");
                        if (rng_() % 2) input.back() = 'J';  // the group still decides
                    }
                    break;
                case 5:  // a final group too large for its mark's bytes
                    if (groups >= 1) {
                        const std::size_t final_chars = (n - 2) % 4 + 1;
                        input.replace(n - 1 - final_chars, final_chars, final_chars, 'Z');
                        input.back() = "0123"[rng_() % 4];
                    }
                    break;
                case 6:  // a tail mark of 5 or more: a digit, a letter, a sign
                    if (!input.empty()) input.back() = "59aJZ+-/="[rng_() % 9];
                    break;
                case 7: input = Bytes(n, kAlphabet); break;  // mostly a group too large early on
            }
            if (const auto model = Asc2FullError(input)) Same(decode, input, &*model);
            else Same(decode, input);
        }
    }
    for (int outcome : {-1, static_cast<int>(Kind::Group) * 100, static_cast<int>(Kind::Group) * 100 + 1,
                        static_cast<int>(Kind::TailMark) * 100})
        EXPECT_GT(seen_[outcome], 50) << outcome;
}

// The tool's chains: hex and armoured ciphertext, and the text forms of a
// ciphertext, against the members that stand for them.
TEST_F(Streams, ChainsAreTheHexAndArmouredMembers) {
    struct Chained final : Sink {
        std::function<void(std::string_view)> next;
        void Write(std::string_view bytes) override { next(bytes); }
    };
    auto hex_decrypt = [&](std::string_view in, const Cuts& cuts) {
        hex::ReadStream read;
        DecryptStream decrypt(rc2_);
        std::string out;
        Chained into;
        into.next = [&](std::string_view b) { decrypt.Update(b, out); };
        std::size_t at = 0;
        for (std::size_t n : cuts) {
            n = std::min(n, in.size() - at);
            read.Update(in.substr(at, n), into);
            at += n;
        }
        read.Update(in.substr(at), into);
        read.Finish(into);
        decrypt.Finish(out);
        return out;
    };
    auto asc_encrypt = [&](std::string_view in, const Cuts& cuts) {
        EncryptStream encrypt(rc2_);
        AscEncodeStream encode;
        std::string out;
        Chained into;
        into.next = [&](std::string_view b) { encode.Update(b, out); };
        std::size_t at = 0;
        for (std::size_t n : cuts) {
            n = std::min(n, in.size() - at);
            encrypt.Update(in.substr(at, n), into);
            at += n;
        }
        encrypt.Update(in.substr(at), into);
        encrypt.Finish(into);
        encode.Finish(out);
        return out;
    };
    const Form decrypt_hex{"decrypt hex", [&](std::string_view t) { return rc2_.DecryptHex(t); }, hex_decrypt};
    const Form encrypt_asc{"encrypt asc", [&](std::string_view t) { std::string s(t); return rc2_.EncryptAsc(s); },
                           asc_encrypt};
    for (std::size_t n : Lengths()) {
        Same(decrypt_hex, hex::Write(Cipher(n / 2)) + Bytes(rng_() % 3, "0 \n"));
        Same(encrypt_asc, Plain(n));
    }
}

// However long a run of zeros or spaces a decryptor holds back, what it hands
// on comes in pieces of at most the library's piece size.
TEST_F(Streams, LongRunsComeOutInBoundedPieces) {
    struct Largest final : Sink {
        std::size_t largest = 0, total = 0;
        void Write(std::string_view bytes) override {
            largest = std::max(largest, bytes.size());
            total += bytes.size();
        }
    };
    const std::string zeros(4 * kChunk, '\0');
    std::string plain = Bytes(100) + zeros + "x";
    const std::string cipher = rc2_.Encrypt(plain);
    for (const std::string& input : {cipher, std::string(3 * kChunk, ' ') + cipher}) {
        DecryptStream stream(rc2_);
        Largest sink;
        for (std::size_t at = 0; at < input.size(); at += 8) stream.Update(std::string_view(input).substr(at, 8), sink);
        stream.Finish(sink);
        EXPECT_EQ(sink.total, rc2_.Decrypt(input).size());
        EXPECT_LE(sink.largest, kPiece);
    }
}

// A sink that fails (a full disk, a closed pipe) ends the text: the same
// stream then gives the next text as a fresh one would.
TEST_F(Streams, StartOverAfterTheSinkThrows) {
    struct Failing final : Sink {
        std::size_t left;
        explicit Failing(std::size_t n) : left(n) {}
        void Write(std::string_view bytes) override {
            if (bytes.size() > left) throw std::runtime_error("full");
            left -= bytes.size();
        }
    };
    EncryptStream encrypt(rc2_);
    DecryptStream decrypt(rc2_);
    hex::ReadStream read;
    AscEncodeStream encode;
    AscDecodeStream decode;
    const std::string plain = Plain(3 * kPiece + 5) + "x";
    const std::string cipher = Cipher(3 * kPiece + 1), hex_text = hex::Write(plain) + "7";
    const std::string asc = BlindAscii::Full2Asc(plain);
    for (std::size_t room : {std::size_t{0}, std::size_t{100}, kPiece + 3}) {
        for (std::size_t cut : {std::size_t{1}, std::size_t{3}, std::size_t{7}}) {
            const auto fail = [&](auto& stream, const std::string& input) {
                Failing sink(room);
                EXPECT_THROW(
                    {
                        stream.Update(std::string_view(input).substr(0, cut), sink);
                        stream.Update(std::string_view(input).substr(cut), sink);
                        stream.Finish(sink);
                    },
                    std::runtime_error);
            };
            fail(encrypt, plain);
            EXPECT_EQ(Feed(encrypt, plain, Cuts{cut}), [&] { std::string p = plain; return rc2_.Encrypt(p); }());
            fail(decrypt, cipher);
            EXPECT_EQ(Feed(decrypt, cipher, Cuts{cut}), rc2_.Decrypt(cipher));
            fail(read, hex_text);
            EXPECT_EQ(Feed(read, hex_text, Cuts{cut}), hex::Read(hex_text));
            fail(encode, plain);
            EXPECT_EQ(Feed(encode, plain, Cuts{cut}), asc);
            fail(decode, asc);
            EXPECT_EQ(Feed(decode, asc, Cuts{cut}), plain);
        }
    }
}

// Every form of UTF-8 or UTF-16 that cannot become Windows-1252 bytes names
// where it is and what it is.
TEST(TextPositions, MalformedAndUnmappable) {
    const struct {
        std::string    utf8;
        Kind           kind;
        std::uint64_t  offset, character;
        char32_t       code_point;
    } cases[] = {
        {"ab\xe2\x82", Kind::MalformedUtf8, 2, 0, 0},              // truncated
        {"\xc1\x81", Kind::MalformedUtf8, 0, 0, 0},                // overlong A
        {"a\xc0\x80", Kind::MalformedUtf8, 1, 0, 0},               // overlong NUL
        {"\xf8\x88\x80\x80\x80", Kind::MalformedUtf8, 0, 0, 0},    // five-byte form
        {"x\xed\xa0\x80", Kind::MalformedUtf8, 1, 0, 0},           // a surrogate
        {"\xf4\x90\x80\x80", Kind::MalformedUtf8, 0, 0, 0},        // beyond U+10FFFF
        {"a\x80", Kind::MalformedUtf8, 1, 0, 0},                   // a stray continuation byte
        {"\xc3\xa9\xc3(", Kind::MalformedUtf8, 2, 0, 0},           // a sequence cut short
        {"ab\xe4\xb8\xad", Kind::Unmappable, 2, 3, 0x4E2D},
        {"\xc3\xa9\xe2\x82\xac\xce\xa9", Kind::Unmappable, 5, 3, 0x3A9},  // é € Ω: é and € have bytes
        {"\xf0\x9f\x98\x80", Kind::Unmappable, 0, 1, 0x1F600},
    };
    for (const auto& c : cases) {
        try {
            cp1252::FromUtf8(c.utf8);
            ADD_FAILURE() << hex::Write(c.utf8) << ": no error";
        } catch (const Error& e) {
            EXPECT_EQ(e.code(), 6);
            EXPECT_EQ(e.position().kind, c.kind) << hex::Write(c.utf8);
            EXPECT_EQ(e.position().offset, c.offset) << hex::Write(c.utf8);
            EXPECT_EQ(e.position().character, c.character) << hex::Write(c.utf8);
            EXPECT_EQ(e.position().code_point, c.code_point) << hex::Write(c.utf8);
        }
    }
    const struct {
        std::u16string utf16;
        std::uint64_t  character;
        char32_t       code_point;
    } wide[] = {
        {u"ab\u03A9", 3, 0x3A9},
        {u"a\xD83D\xDE00", 2, 0x1F600},  // a pair: the character it makes
        {u"\xDC00" u"b", 1, 0xDC00},      // a surrogate alone
        {u"\u20AC\xD800", 2, 0xD800},
    };
    for (const auto& c : wide) {
        try {
            cp1252::FromUtf16(c.utf16);
            ADD_FAILURE() << c.character << ": no error";
        } catch (const Error& e) {
            EXPECT_EQ(e.code(), 6);
            EXPECT_EQ(e.position().kind, Kind::Unmappable);
            EXPECT_EQ(e.position().character, c.character);
            EXPECT_EQ(e.position().code_point, c.code_point);
        }
    }
}

}  // namespace
}  // namespace morvik
