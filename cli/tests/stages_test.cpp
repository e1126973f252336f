// The streaming stages against the RC2 object's own members: every input,
// cut into pieces of every kind of size, must give the object's output or
// fail with the object's error number.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <morvik/blind_ascii.h>
#include <morvik/hex.h>
#include <morvik/rc2.h>
#include "cli/front.h"

namespace morvik::cli {
namespace {

struct Outcome {
    std::optional<std::string> output;  // or, on failure,
    int                        error = 0;

    friend bool operator==(const Outcome&, const Outcome&) = default;
    friend std::ostream& operator<<(std::ostream& os, const Outcome& o) {
        if (o.output) return os << "output of " << o.output->size() << " bytes: " << hex::Write(o.output->substr(0, 48));
        return os << "error " << o.error;
    }
};

Outcome ByObject(const std::function<std::string()>& member) {
    try {
        return {member(), 0};
    } catch (const Error& e) {
        return {std::nullopt, e.code()};
    }
}

using ChainFactory = std::function<Sink&(StringSink& tail, std::vector<std::unique_ptr<Sink>>& keep)>;

Outcome ByStages(const ChainFactory& make, std::string_view input, const std::vector<std::size_t>& cuts) {
    StringSink tail;
    std::vector<std::unique_ptr<Sink>> keep;
    Sink& head = make(tail, keep);
    try {
        std::size_t at = 0;
        for (std::size_t n : cuts) {
            if (at >= input.size()) break;
            head.Write(input.substr(at, n));
            at += n;
        }
        if (at < input.size()) head.Write(input.substr(at));
        head.Finish();
    } catch (const Failure& f) {
        return {std::nullopt, static_cast<int>(f.status())};
    }
    EXPECT_TRUE(tail.finished);
    return {tail.data, 0};
}

template <typename... Stages>
ChainFactory Make(std::function<void(Sink*& head, std::vector<std::unique_ptr<Sink>>&)> build) {
    return [build](StringSink& tail, std::vector<std::unique_ptr<Sink>>& keep) -> Sink& {
        Sink* head = &tail;
        build(head, keep);
        return *head;
    };
}

template <typename Stage, typename... Args>
void Push(Sink*& head, std::vector<std::unique_ptr<Sink>>& keep, Args&&... args) {
    keep.push_back(std::make_unique<Stage>(std::forward<Args>(args)..., *head));
    head = keep.back().get();
}

class Stages : public ::testing::Test {
protected:
    Stages() {
        rc2_.EffectiveKeyLength(100);
        rc2_.Key("stream key");
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

    std::string Cipher(std::string plain) { return rc2_.Encrypt(plain); }

    std::vector<std::size_t> Cuts(std::size_t total) {
        std::vector<std::size_t> cuts;
        const auto style = rng_() % 4;
        for (std::size_t sum = 0; sum < total;) {
            std::size_t n = 0;
            switch (style) {
                case 0: n = 1 + rng_() % 9; break;                        // tiny, across every edge
                case 1: n = 1 + rng_() % 200; break;
                case 2: n = kChunkSize + rng_() % 17 - 8; break;          // around the stages' own size
                case 3: n = total; break;                                 // all at once
            }
            cuts.push_back(n);
            sum += n;
        }
        return cuts;
    }

    void Same(const ChainFactory& make, const std::string& input, const std::function<std::string()>& member) {
        const Outcome expected = ByObject(member);
        for (int round = 0; round < 4; ++round) {
            const auto cuts = Cuts(input.size());
            ASSERT_EQ(ByStages(make, input, cuts), expected)
                << "input of " << input.size() << " bytes: " << hex::Write(input.substr(0, 48))
                << ", first piece " << (cuts.empty() ? 0 : cuts[0]);
        }
    }

    std::size_t Length() {
        static constexpr std::size_t kEdges[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 15, 16, 17, 23, 24, 25, 63, 64, 65};
        if (rng_() % 8 == 0) return kChunkSize * (1 + rng_() % 3) + rng_() % 24 - 12;
        if (rng_() % 2 == 0) return kEdges[rng_() % std::size(kEdges)];
        return rng_() % 300;
    }

    RC2 rc2_;
    std::mt19937_64 rng_{20261208};
};

TEST_F(Stages, EncryptInEveryFormIsTheObjectsOutput) {
    const auto raw = Make([this](Sink*& h, auto& k) { Push<EncryptStage>(h, k, rc2_); });
    const auto hexed = Make([this](Sink*& h, auto& k) { Push<HexWriteStage>(h, k); Push<EncryptStage>(h, k, rc2_); });
    const auto asc = Make([this](Sink*& h, auto& k) { Push<AscEncodeStage>(h, k); Push<EncryptStage>(h, k, rc2_); });
    for (int i = 0; i < 150; ++i) {
        const std::string plain = Plain(Length());
        Same(raw, plain, [&] { std::string p = plain; return rc2_.Encrypt(p); });
        Same(hexed, plain, [&] { std::string p = plain; rc2_.Encrypt(p); return rc2_.ResultHex(); });
        Same(asc, plain, [&] { std::string p = plain; return rc2_.EncryptAsc(p); });
    }
}

TEST_F(Stages, DecryptOfRawCiphertextIsTheObjectsOutput) {
    const auto chain = Make([this](Sink*& h, auto& k) { Push<DecryptStage>(h, k, rc2_, "the ciphertext"); });
    for (int i = 0; i < 200; ++i) {
        std::string input;
        switch (i % 5) {
            case 0: input = Cipher(Plain(Length())); break;
            case 1: input = Bytes(Length()); break;                                  // any length
            case 2: input.assign(Length(), ' '); break;                              // blank
            case 3: input = std::string(Length(), ' ') + Cipher(Plain(Length())); break;
            case 4: input = Cipher(Plain(Length())) + std::string(rng_() % 12, ' '); break;
        }
        Same(chain, input, [&] { return rc2_.Decrypt(input); });
    }
}

TEST_F(Stages, DecryptOfHexCiphertextIsTheObjectsOutput) {
    const auto chain = Make([this](Sink*& h, auto& k) {
        Push<DecryptStage>(h, k, rc2_, "the ciphertext");
        Push<HexReadStage>(h, k);
    });
    for (int i = 0; i < 200; ++i) {
        std::string input;
        switch (i % 5) {
            case 0: input = hex::Write(Cipher(Plain(Length()))); break;
            case 1: input = Bytes(Length(), "0123456789abcdefABCDEF \t\nzg\r"); break;
            case 2: for (std::size_t n = Length(); n > 0; --n) input += "20"; break;   // spaces, in hex
            case 3: input = hex::Write(Cipher(Plain(Length()))) + Bytes(rng_() % 3, "\n "); break;
            case 4: input = Bytes(Length(), " "); break;                                 // reads as zeros
        }
        Same(chain, input, [&] { return rc2_.DecryptHex(input); });
    }
}

TEST_F(Stages, DecryptOfArmouredCiphertextIsTheObjectsOutputOrError) {
    const auto chain = Make([this](Sink*& h, auto& k) {
        Push<DecryptStage>(h, k, rc2_, "the ciphertext");
        Push<AscDecodeStage>(h, k);
    });
    constexpr std::string_view kDigits = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ+-/=";
    for (int i = 0; i < 300; ++i) {
        std::string input = BlindAscii::Full2Asc(Cipher(Plain(Length())));
        switch (i % 6) {
            case 0: break;
            case 1:  // any tail mark, valid or not
                if (!input.empty()) input.back() = "01234J9 Z="[rng_() % 10];
                break;
            case 2:  // a character changed anywhere, maybe to one outside the alphabet
                if (!input.empty()) input[rng_() % input.size()] = "OPQRSTUVWXYZ+-/= \n"[rng_() % 18];
                break;
            case 3: input.resize(input.size() - std::min<std::size_t>(input.size(), rng_() % 6)); break;
            case 4: input = Bytes(Length(), kDigits); break;
            case 5: input = BlindAscii::Full2Asc(std::string(8 * (rng_() % 5), ' ')) + Bytes(rng_() % 2, " "); break;
        }
        Same(chain, input, [&] { return rc2_.DecryptAsc(input); });
    }
}

TEST_F(Stages, CodecsAreTheObjectsForms) {
    const auto hex_write = Make([](Sink*& h, auto& k) { Push<HexWriteStage>(h, k); });
    const auto hex_read  = Make([](Sink*& h, auto& k) { Push<HexReadStage>(h, k); });
    const auto encode    = Make([](Sink*& h, auto& k) { Push<AscEncodeStage>(h, k); });
    const auto decode    = Make([](Sink*& h, auto& k) { Push<AscDecodeStage>(h, k); });
    for (int i = 0; i < 150; ++i) {
        const std::string bytes = Bytes(Length());
        const std::string text = Bytes(Length(), "0123456789afAFzZ+=/- \n");
        Same(hex_write, bytes, [&] { return hex::Write(bytes); });
        Same(hex_read, text, [&] { return hex::Read(text); });
        Same(encode, bytes, [&] { return BlindAscii::Full2Asc(bytes); });
        Same(decode, text, [&] { return BlindAscii::Asc2Full(text); });
        Same(decode, BlindAscii::Full2Asc(bytes), [&] { return bytes; });
    }
}

// Runs of zeros and spaces far longer than any buffer, ending exactly on,
// just before and just after the stages' own piece size.
TEST_F(Stages, LongRunsAcrossPieceEdges) {
    const auto chain = Make([this](Sink*& h, auto& k) { Push<DecryptStage>(h, k, rc2_, "the ciphertext"); });
    for (std::size_t edge : {kChunkSize - 8, kChunkSize, kChunkSize + 8, 3 * kChunkSize}) {
        std::string plain = Bytes(edge) + std::string(2 * kChunkSize + 8, '\0');
        Same(chain, Cipher(plain), [&] { return rc2_.Decrypt(Cipher(plain)); });
        plain += "x";  // the zeros are now inside the plaintext and must all come out
        Same(chain, Cipher(plain), [&] { return rc2_.Decrypt(Cipher(plain)); });
        const std::string spaces(edge + 3 * kChunkSize, ' ');
        Same(chain, spaces, [&] { return rc2_.Decrypt(spaces); });
        Same(chain, spaces + "12345678", [&] { return rc2_.Decrypt(spaces + "12345678"); });
    }
}

// The error carries the place where the text went wrong.
TEST(StageMessages, NameTheGroupOrOffset) {
    RC2 rc2;
    const struct {
        bool        asc;
        std::string input;
        Exit        status;
        std::string message;
    } cases[] = {
        {false, std::string(12, 'x'), Exit::Invalid, "is 12 bytes long, not a multiple of 8: the block at byte offset 8 has only 4 bytes"},
        {true, "md9Jmd9JZZZZmd9J0", Exit::Invalid, "group 3 (characters 9 to 12: 'Z' 'Z' 'Z' 'Z') is above 16777215"},
        {true, "md9Jmd9J", Exit::Overflow, "the tail mark 'J' (character 8) has the value 45"},
        {true, "md9J0" + std::string(1, ' '), Exit::Invalid, "the block at byte offset 0 has only 6 bytes"},
        {true, "md9JZZZ2", Exit::Invalid, "group 2 (characters 5 to 7: 'Z' 'Z' 'Z') is too large for the 2 bytes"},
    };
    for (const auto& c : cases) {
        StringSink tail;
        DecryptStage decrypt(rc2, "the ciphertext", tail);
        AscDecodeStage decode(decrypt);
        Sink& head = c.asc ? static_cast<Sink&>(decode) : decrypt;
        try {
            for (char ch : c.input) head.Write(std::string_view(&ch, 1));
            head.Finish();
            ADD_FAILURE() << c.input << ": no error";
        } catch (const Failure& f) {
            EXPECT_EQ(f.status(), c.status) << c.input;
            EXPECT_NE(std::string(f.what()).find(c.message), std::string::npos) << f.what();
        }
    }
}

// encrypt --utf8: however the text is cut, a sequence split between pieces
// is one character, and a fault is named by its place in the whole text.
TEST(FromUtf8Stage, IsTheCodePagesBytesWhereverThePiecesEnd) {
    const struct {
        std::string text;
        std::string bytes;    // Windows-1252, or
        std::string message;  // the whole message of the failure
    } cases[] = {
        {"Gr\xC3\xBC\xC3\x9F" "e, 10 \xE2\x82\xAC\n", "Gr\xFC\xDF" "e, 10 \x80\n", ""},
        {"\xC5\xA0\xC5\xBE\xC2\x81", "\x8A\x9E\x81", ""},
        {"ab\nc\xE4\xB8\xAD", "", "the input at byte offset 4 (line 2): character U+4E2D has no Windows-1252 byte"},
        {"x\n\n\xF0\x9F\x98\x80y", "", "the input at byte offset 3 (line 3): character U+1F600 has no Windows-1252 byte"},
        {"a\xE2\x82", "", "the input at byte offset 1 (line 1): malformed UTF-8"},
        {"\xC3(\xC3\xA9", "", "the input at byte offset 0 (line 1): malformed UTF-8"},
        {"abc\n\x80", "", "the input at byte offset 4 (line 2): malformed UTF-8"},
        {"\xE2\x82\xAC\xED\xA0\x80", "", "the input at byte offset 3 (line 1): malformed UTF-8"},  // a surrogate
    };
    for (const auto& c : cases) {
        // Two pieces cut at every place, and one byte at a time.
        std::vector<std::vector<std::size_t>> cutting;
        for (std::size_t at = 0; at <= c.text.size(); ++at) cutting.push_back({at, c.text.size() - at});
        cutting.push_back(std::vector<std::size_t>(c.text.size(), 1));
        for (const auto& cuts : cutting) {
            StringSink tail;
            FromUtf8Stage stage(tail);
            std::string message;
            try {
                std::size_t at = 0;
                for (std::size_t n : cuts) stage.Write(std::string_view(c.text).substr(at, n)), at += n;
                stage.Finish();
            } catch (const Failure& f) {
                EXPECT_EQ(f.status(), Exit::Overflow);
                message = f.what();
            }
            const std::string where = hex::Write(c.text) + " cut after " + std::to_string(cuts[0]);
            EXPECT_EQ(message, c.message) << where;
            if (c.message.empty()) {
                EXPECT_EQ(tail.data, c.bytes) << where;
            }
            EXPECT_EQ(tail.finished, c.message.empty()) << where;
        }
    }
}

}  // namespace
}  // namespace morvik::cli
