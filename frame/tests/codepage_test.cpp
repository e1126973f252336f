// Byte strings under every ANSI code page. codepages.sh runs this client once
// per code page (Wine takes a process's ANSI code page from LC_ALL) and names
// the one expected in MORVIK_CODE_PAGE.
//
// The tables for all the code pages, whatever this process runs under: one
// to one, the system's own character wherever it converts back to its byte
// alone, and Windows-1252 exactly as the library's fixed table has it. Then
// the server under this process's code page: every byte value through Key,
// Encrypt/Decrypt and EncryptAsc/DecryptAsc and back, Result as a key, a
// character of no byte refused, and the shared message vectors, which under
// 1252 must give the very characters they always gave.
#include <initguid.h>
#include <windows.h>
#include <ole2.h>

#include "morvik.h"
#include <morvik/code_page.h>
#include "com_test.h"
#include "tests/support/conformance.h"

#include <morvik/cp1252.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using CodePage = morvik::AnsiCodePage;
using namespace morvik::test;

constexpr UINT kCodePages[] = {1252, 1253, 1255, 874, 932, 936, 949, 950};

const auto* const kApartment = ::testing::AddGlobalTestEnvironment(new ComApartment);

std::wstring Chars(const CodePage& page, const std::string& bytes) {
    std::wstring s;
    for (unsigned char b : bytes) s += page.Char(b);
    return s;
}

std::wstring Cp1252(const std::string& bytes) {
    std::wstring s;
    for (unsigned char b : bytes) s += static_cast<wchar_t>(morvik::cp1252::ToCodePoint(b));
    return s;
}

std::string StripZeros(std::string bytes) {
    while (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
    return bytes;
}

std::string Range(int first, int count) {
    std::string s;
    for (int i = 0; i < count; ++i) s += static_cast<char>(first + i);
    return s;
}

const CodePage& Ansi() {
    static const CodePage page(GetACP());
    return page;
}

TEST(CodePage, ProcessRunsUnderTheExpectedCodePage) {
    const char* expected = std::getenv("MORVIK_CODE_PAGE");
    ASSERT_NE(expected, nullptr) << "MORVIK_CODE_PAGE names the code page that LC_ALL should give";
    EXPECT_EQ(GetACP(), static_cast<UINT>(std::atoi(expected)));
}

TEST(CodePage, TablesAreOneToOneAndKeepTheSystemsCharacters) {
    for (const UINT cp : kCodePages) {
        SCOPED_TRACE(cp);
        ASSERT_TRUE(IsValidCodePage(cp));
        const CodePage page(cp);
        std::set<wchar_t> chars;
        int substitutes = 0;
        for (int b = 0; b < 256; ++b) {
            SCOPED_TRACE(b);
            const auto byte = static_cast<std::uint8_t>(b);
            const wchar_t c = page.Char(byte);
            chars.insert(c);
            EXPECT_EQ(page.Byte(c), b);
            // Only a lead byte of a double-byte code page has no character of
            // its own; unassigned bytes keep the system's Private Use ones.
            const bool lead = IsDBCSLeadByteEx(cp, byte);
            EXPECT_EQ(page.Substituted(byte), lead);
            if (lead) {
                EXPECT_EQ(c, 0xF700 + b);
            } else {
                const char in = static_cast<char>(b);
                wchar_t system = 0;
                ASSERT_EQ(MultiByteToWideChar(cp, 0, &in, 1, &system, 1), 1);
                EXPECT_EQ(c, system);
            }
            substitutes += page.Substituted(byte);
        }
        EXPECT_EQ(chars.size(), 256u) << "two bytes share a character";
        EXPECT_EQ(substitutes, cp == 932 ? 60 : cp >= 936 && cp <= 950 ? 126 : 0);
        int others = 0;
        for (int c = 0; c < 0x10000; ++c)
            if (!chars.count(static_cast<wchar_t>(c))) others += page.Byte(static_cast<wchar_t>(c)) != -1;
        EXPECT_EQ(others, 0) << "characters outside the table that still find a byte";
    }
}

TEST(CodePage, Table1252IsTheFixedWindows1252) {
    const CodePage page(1252);
    for (int b = 0; b < 256; ++b) {
        EXPECT_EQ(static_cast<char32_t>(page.Char(static_cast<std::uint8_t>(b))),
                  morvik::cp1252::ToCodePoint(static_cast<std::uint8_t>(b)))
            << "byte " << b;
        EXPECT_FALSE(page.Substituted(static_cast<std::uint8_t>(b)));
    }
}

TEST(CodePageServer, KeyTakesEveryByteValueAndGivesItBack) {
    auto rc2 = CreateRC2();
    for (int first : {0, 128}) {
        SCOPED_TRACE(first);
        const std::string bytes = Range(first, 128);
        ASSERT_EQ(PutKey(rc2.get(), Chars(Ansi(), bytes)), S_OK);
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_KeyHex), UpperHex(bytes));
        const std::wstring key = Get(rc2.get(), &_RC2::get_Key);
        EXPECT_EQ(key, Chars(Ansi(), bytes));
        ASSERT_EQ(PutKey(rc2.get(), key), S_OK) << "o.Key = o.Key";
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_KeyHex), UpperHex(bytes));
    }
}

TEST(CodePageServer, EveryTextComesBackAndEveryResultIsAKey) {
    std::vector<std::string> texts = {Range(0, 256), StripZeros(Range(0, 256)), Range(128, 128)};
    std::string reversed = Range(0, 256);
    std::reverse(reversed.begin(), reversed.end());
    texts.push_back(reversed);
    std::mt19937 random(14);
    for (int i = 0; i < 200; ++i) {
        std::string t(random() % 41, '\0');
        for (char& c : t) c = static_cast<char>(random());
        texts.push_back(t);
    }

    auto rc2 = CreateRC2();
    auto by_key = CreateRC2();
    auto by_hex = CreateRC2();
    ASSERT_EQ(PutKey(rc2.get(), Chars(Ansi(), Range(0x80, 16))), S_OK);
    int keys = 0;
    for (const std::string& text : texts) {
        const std::wstring text_hex = UpperHex(text);
        SCOPED_TRACE(std::string(text_hex.begin(), text_hex.end()));
        const std::wstring chars = Chars(Ansi(), text);
        const std::wstring back = Chars(Ansi(), StripZeros(text));

        const std::wstring cipher = Call(rc2.get(), &_RC2::Encrypt, chars);
        const std::wstring result = Get(rc2.get(), &_RC2::get_Result);
        const std::wstring result_hex = Get(rc2.get(), &_RC2::get_ResultHex);
        EXPECT_EQ(result, cipher);
        EXPECT_EQ(Call(rc2.get(), &_RC2::Decrypt, cipher), back);
        EXPECT_EQ(Call(rc2.get(), &_RC2::DecryptAsc, Call(rc2.get(), &_RC2::EncryptAsc, chars)), back);

        // The ciphertext as read back is a key, and the same key as its hex.
        if (result.empty() || result.size() > 128) continue;
        ASSERT_EQ(PutKey(by_key.get(), result), S_OK);
        ASSERT_EQ(PutKeyHex(by_hex.get(), result_hex), S_OK);
        EXPECT_EQ(Get(by_key.get(), &_RC2::get_KeyHex), result_hex);
        EXPECT_EQ(Call(by_key.get(), &_RC2::EncryptHex, L"00112233445566778899"),
                  Call(by_hex.get(), &_RC2::EncryptHex, L"00112233445566778899"))
            << "the expanded keys differ";
        ++keys;
    }
    EXPECT_GE(keys, 190);
}

TEST(CodePageServer, ACharacterOfNoByteFailsWithOverflowAndChangesNothing) {
    auto rc2 = CreateRC2();
    ASSERT_EQ(PutKey(rc2.get(), L"old key"), S_OK);
    const std::wstring kept = Call(rc2.get(), &_RC2::Encrypt, L"kept");
    // A double-byte character, and the place of a substitute that 'A' never needs.
    for (const wchar_t* bad : {L"a\x4E00", L"\xF741", L"\xFFFD"}) {
        SCOPED_TRACE(static_cast<int>(bad[std::wcslen(bad) - 1]));
        EXPECT_EQ(PutKey(rc2.get(), bad), kOverflow);
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_Key), L"old key");
        Bstr arg(bad), out;
        EXPECT_EQ(rc2->Encrypt(arg.inout(), out.out()), kOverflow);
        EXPECT_EQ(arg.text(), bad);
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_Result), kept);
    }
}

TEST(CodePageServer, SharedMessageVectors) {
    const bool western = GetACP() == 1252;
    int count = 0;
    for (const Message& m : ReadMessages(MORVIK_SHARED_DATA "/messages.vec")) {
        SCOPED_TRACE(m.where);
        const std::string key = Unhex(m.key_hex), plain = Unhex(m.plain_hex), cipher = Unhex(m.cipher_hex);
        const std::string stripped = StripZeros(plain);
        auto rc2 = CreateRC2();
        PutBits(rc2.get(), m.bits);
        ASSERT_EQ(PutKeyHex(rc2.get(), Wide(m.key_hex)), S_OK);
        const std::wstring key_chars = Get(rc2.get(), &_RC2::get_Key);
        ASSERT_EQ(PutKey(rc2.get(), key_chars), S_OK);
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_KeyHex), UpperHex(key));

        const std::wstring cipher_chars = Call(rc2.get(), &_RC2::EncryptHex, Wide(m.plain_hex));
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_ResultHex), Wide(m.cipher_hex));
        const std::wstring plain_chars = Call(rc2.get(), &_RC2::Decrypt, cipher_chars);
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_ResultHex), UpperHex(stripped));
        EXPECT_EQ(Call(rc2.get(), &_RC2::DecryptAsc, Wide(m.asc)), plain_chars);

        if (western) {
            // The characters themselves, against the fixed Windows-1252 table.
            EXPECT_EQ(key_chars, Cp1252(key));
            EXPECT_EQ(cipher_chars, Cp1252(cipher));
            EXPECT_EQ(plain_chars, Cp1252(stripped));
            Bstr text(Cp1252(plain)), out;
            ASSERT_EQ(rc2->Encrypt(text.inout(), out.out()), S_OK);
            EXPECT_EQ(out.text(), Cp1252(cipher));
            EXPECT_EQ(text.text(), Cp1252(plain + std::string((8 - plain.size() % 8) % 8, '\0')));
            EXPECT_EQ(Call(rc2.get(), &_RC2::EncryptAsc, Cp1252(plain)), Wide(m.asc));
            EXPECT_EQ(Get(rc2.get(), &_RC2::get_Result), Cp1252(cipher));
        }
        ++count;
    }
    EXPECT_GE(count, 16);
}

// The table every front runs, through the server as a script calls it: the
// length before the key, byte strings through this code page's table, texts
// as the characters they are (UTF-8 in the table).
TEST(CodePageServer, ConformanceTable) {
    const CodePage& page = Ansi();
    const auto bytes_of = [&](const std::wstring& chars) {
        std::string b;
        for (wchar_t c : chars) b += static_cast<char>(page.Byte(c));
        return b;
    };
    int rows = 0;
    for (const auto& c : ReadConformance(MORVIK_SHARED_DATA "/conformance.vec")) {
        if (!c.For("com")) continue;
        ++rows;
        SCOPED_TRACE(c.Where());
        auto rc2 = CreateRC2();
        PutBits(rc2.get(), c.bits);
        ASSERT_EQ(PutKey(rc2.get(), Chars(page, c.key)), S_OK);
        Method member = c.encrypt ? (c.form == "asc" ? &_RC2::EncryptAsc : &_RC2::Encrypt)
                                  : (c.form == "asc" ? &_RC2::DecryptAsc : c.form == "hex" ? &_RC2::DecryptHex : &_RC2::Decrypt);
        const std::u16string text = morvik::Utf8ToUtf16(c.input);
        Bstr in(c.encrypt || c.form == "raw" ? Chars(page, c.input) : std::wstring(text.begin(), text.end())), out;
        const HRESULT hr = (rc2.get()->*member)(in.inout(), out.out());
        if (c.error != 0) {
            EXPECT_EQ(hr, ScriptError(static_cast<unsigned>(c.error)));
            continue;
        }
        ASSERT_EQ(hr, S_OK);
        if (c.encrypt && c.form == "hex") EXPECT_EQ(Get(rc2.get(), &_RC2::get_ResultHex), Wide(c.expected));
        else if (c.encrypt && c.form == "asc") EXPECT_EQ(out.text(), Wide(c.expected));
        else EXPECT_EQ(bytes_of(out.text()), c.expected);
    }
    EXPECT_GE(rows, 15);
}

}  // namespace
