// Many messages at once, and one message at a time into a reused buffer,
// against the member that decrypts each alone: the same plaintext, or the
// same error at the same place, whatever came before in the batch or buffer.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include <morvik/batch.h>
#include <morvik/blind_ascii.h>
#include <morvik/hex.h>

#include "tests/support/random.h"

namespace morvik {
namespace {

struct Outcome {
    std::string plain;
    int         number = 0;
    ErrorPosition::Kind kind = ErrorPosition::Kind::None;
    std::uint64_t where = 0;  // the offset, character or group, as the kind has it

    bool operator==(const Outcome&) const = default;
};

Outcome Of(const Error& e) {
    const auto& p = e.position();
    return {"", e.code(), p.kind, p.offset + 1000 * p.character + 1000000 * p.group};
}

template <class F> Outcome Attempt(F&& f) {
    try {
        return {std::string(f())};
    } catch (const Error& e) {
        return Of(e);
    }
}

Outcome Member(RC2& rc2, const std::string& m, MessageForm form) {
    return Attempt([&] {
        return form == MessageForm::Raw ? rc2.Decrypt(m) : form == MessageForm::Hex ? rc2.DecryptHex(m) : rc2.DecryptAsc(m);
    });
}

// Ciphertexts of every short length in every form, some of them damaged the
// ways stored values are: cut short, a character changed, blanks.
std::vector<std::string> Messages(RC2& rc2, MessageForm form, std::mt19937& rng) {
    std::vector<std::string> out;
    for (std::size_t n = 0; n <= 41; ++n) {
        std::string plain = test::RandomBytesWithZeros(rng, n);
        const std::string cipher = rc2.Encrypt(plain);
        std::string m = form == MessageForm::Raw ? cipher : form == MessageForm::Hex ? hex::Write(cipher) : BlindAscii::Full2Asc(cipher);
        out.push_back(m);
        if (!m.empty()) {
            out.push_back(m.substr(0, m.size() - 1 - rng() % m.size()));
            std::string changed = m;
            changed[rng() % m.size()] = "Z=\x01 g"[rng() % 5];
            out.push_back(changed);
        }
    }
    for (const char* odd : {"", " ", "        ", "0", "ZZZZ0", "00005", "0000Z", "zz"}) out.push_back(odd);
    return out;
}

TEST(Batch, EachMessageAsTheMemberGivesIt) {
    std::mt19937 rng(20261210);
    const std::string key = test::RandomBytes(rng, 13);
    RC2 rc2, alone;  // the batch's object, and the member's
    for (RC2* r : {&rc2, &alone}) {
        r->Key(key);
        r->EffectiveKeyLength(97);
    }
    for (MessageForm form : {MessageForm::Raw, MessageForm::Hex, MessageForm::Asc}) {
        SCOPED_TRACE(static_cast<int>(form));
        const std::vector<std::string> messages = Messages(rc2, form, rng);
        const std::vector<std::string_view> views(messages.begin(), messages.end());
        MessageBatch batch;
        DecryptMany(rc2, views, form, batch);
        ASSERT_EQ(batch.ends.size(), messages.size());
        std::string buffer(4096, 'x');  // a long value before: its bytes must not show through
        std::size_t failures = 0;
        for (std::size_t i = 0; i < messages.size(); ++i) {
            SCOPED_TRACE(i);
            const Outcome want = Member(alone, messages[i], form);
            Outcome many{std::string(batch.Result(i))};
            if (failures < batch.failed.size() && batch.failed[failures] == i) many = Of(batch.errors[failures++]);
            EXPECT_EQ(many, want);
            EXPECT_EQ(Attempt([&] { return DecryptOne(rc2, messages[i], form, buffer); }), want);
        }
        EXPECT_EQ(failures, batch.failed.size());
        EXPECT_GT(failures, 0u);  // the damaged ones are in the table
    }
}

TEST(Batch, EncryptManyIsTheMembersCiphertext) {
    std::mt19937 rng(7);
    const std::string key = test::RandomBytes(rng, 5);
    RC2 rc2, alone;
    rc2.Key(key);
    alone.Key(key);
    std::vector<std::string> plains;
    for (std::size_t n = 0; n <= 40; ++n) plains.push_back(test::RandomBytes(rng, n));
    const std::vector<std::string_view> views(plains.begin(), plains.end());
    for (MessageForm form : {MessageForm::Raw, MessageForm::Hex, MessageForm::Asc}) {
        MessageBatch batch;
        EncryptMany(rc2, views, form, batch);
        for (std::size_t i = 0; i < plains.size(); ++i) {
            std::string p = plains[i];
            const std::string cipher = alone.Encrypt(p);
            const std::string want = form == MessageForm::Raw ? cipher : form == MessageForm::Hex ? alone.ResultHex() : BlindAscii::Full2Asc(cipher);
            EXPECT_EQ(batch.Result(i), want) << i;
        }
    }
}

}  // namespace
}  // namespace morvik
