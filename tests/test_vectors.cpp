// Known-answer vectors from tests/data, one runner per kind.
#include <gtest/gtest.h>

#include <morvik/blind_ascii.h>
#include <morvik/hex.h>
#include <morvik/rc2.h>
#include "tests/support/vec.h"

namespace morvik {
namespace {

using test::Hex;
using test::ReadVec;
using test::Unhex;

std::string Trace(const test::VecCase& c) { return "line " + std::to_string(c.line); }

TEST(KnownAnswer, Rfc2268) {
    const auto cases = ReadVec("rfc2268.vec");
    ASSERT_EQ(cases.size(), 8u);
    for (const auto& c : cases) {
        SCOPED_TRACE(Trace(c));
        ASSERT_EQ(c.fields.size(), 4u);
        RC2 rc2;
        rc2.EffectiveKeyLength(std::stoi(c.fields[1]));
        rc2.Key(Unhex(c.fields[0]));
        std::string plain = Unhex(c.fields[2]);
        const std::string cipher = Unhex(c.fields[3]);
        EXPECT_EQ(Hex(rc2.Encrypt(plain)), c.fields[3]);

        std::string back(8, '\0');
        rc2.DecryptBlocks(reinterpret_cast<const std::uint8_t*>(cipher.data()),
                          reinterpret_cast<std::uint8_t*>(back.data()), 1);
        EXPECT_EQ(Hex(back), c.fields[2]);
        // Decrypt removes the zero bytes at the end of the plaintext.
        const std::string plainText = Unhex(c.fields[2]);
        EXPECT_EQ(rc2.Decrypt(cipher), plainText.substr(0, plainText.find_last_not_of('\0') + 1));
    }
}

// Whole messages; the command-line tool and the COM server run the same file.
TEST(KnownAnswer, Messages) {
    const auto cases = ReadVec("messages.vec");
    ASSERT_GE(cases.size(), 16u);
    for (const auto& c : cases) {
        SCOPED_TRACE(Trace(c));
        ASSERT_EQ(c.fields.size(), 5u);
        auto field = [](const std::string& f) { return f == "-" ? std::string() : f; };
        RC2 rc2;
        rc2.EffectiveKeyLength(std::stoi(c.fields[1]));
        rc2.KeyHex(c.fields[0]);
        std::string plain = Unhex(c.fields[2]);
        const std::string stripped = plain.substr(0, plain.find_last_not_of('\0') + 1);
        EXPECT_EQ(rc2.EncryptAsc(plain), field(c.fields[4]));
        EXPECT_EQ(rc2.ResultHex(), field(c.fields[3]));
        EXPECT_EQ(rc2.DecryptHex(field(c.fields[3])), stripped);
        EXPECT_EQ(rc2.DecryptAsc(field(c.fields[4])), stripped);
    }
}

TEST(KnownAnswer, Armour) {
    int seen = 0;
    for (const auto& c : ReadVec("armour.vec")) {
        SCOPED_TRACE(Trace(c));
        ASSERT_EQ(c.fields.size(), 2u);
        ++seen;
        if (c.section == "both") {
            const std::string bytes = Unhex(c.fields[0]);
            EXPECT_EQ(BlindAscii::Full2Asc(bytes), c.fields[1]);
            EXPECT_EQ(Hex(BlindAscii::Asc2Full(c.fields[1])), Hex(bytes));
        } else if (c.section == "decode") {
            EXPECT_EQ(Hex(BlindAscii::Asc2Full(c.fields[0])), Hex(Unhex(c.fields[1])));
        } else if (c.section == "error") {
            try {
                BlindAscii::Asc2Full(c.fields[0]);
                ADD_FAILURE() << "no error for \"" << c.fields[0] << '"';
            } catch (const Error& e) {
                EXPECT_EQ(e.code(), std::stoi(c.fields[1])) << '"' << c.fields[0] << '"';
            }
        } else {
            ADD_FAILURE() << "unknown section " << c.section;
        }
    }
    EXPECT_GT(seen, 30);
}

TEST(KnownAnswer, Hex) {
    int seen = 0;
    for (const auto& c : ReadVec("hex.vec")) {
        SCOPED_TRACE(Trace(c));
        ASSERT_EQ(c.fields.size(), 2u);
        ++seen;
        if (c.section == "read")
            EXPECT_EQ(Hex(hex::Read(c.fields[0])), Hex(Unhex(c.fields[1])));
        else if (c.section == "write")
            EXPECT_EQ(hex::Write(Unhex(c.fields[0])), c.fields[1]);
        else
            ADD_FAILURE() << "unknown section " << c.section;
    }
    EXPECT_GT(seen, 15);
}

}  // namespace
}  // namespace morvik
