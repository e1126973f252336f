// The C interface against the project's vectors and the C++ object: every
// status code, and the size queries of both kinds of output.
#include <morvik/morvik.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <morvik/blind_ascii.h>
#include <morvik/rc2.h>
#include <morvik/version.h>

#include "tests/support/conformance.h"
#include "tests/support/vec.h"

namespace {

using morvik::test::ReadVec;
using morvik::test::Unhex;

const auto* U(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

// One object, freed by one call at the end of the scope.
struct Object {
    morvik_rc2* p = nullptr;
    Object() { EXPECT_EQ(morvik_rc2_new(&p), MORVIK_OK); }
    ~Object() { EXPECT_EQ(morvik_rc2_free(p), MORVIK_OK); }
    Object(const Object&)            = delete;
    Object& operator=(const Object&) = delete;
};

using CallerCall = std::function<int(void* out, std::size_t* len)>;
using AllocCall  = std::function<int(void** out, std::size_t* len)>;

// The way the header says to call: ask for the size, then call with that room.
std::string Queried(const CallerCall& call) {
    std::size_t len = 0;
    const int query = call(nullptr, &len);
    if (query != MORVIK_OK && query != MORVIK_E_SHORT_BUFFER) throw std::runtime_error("query status " + std::to_string(query));
    std::string out(len, '\x55');
    const int status = call(out.data(), &len);
    if (status != MORVIK_OK) throw std::runtime_error("call status " + std::to_string(status));
    out.resize(len);
    return out;
}

std::string Allocated(const AllocCall& call) {
    void* p = nullptr;
    std::size_t len = 0;
    const int status = call(&p, &len);
    if (status != MORVIK_OK || p == nullptr) throw std::runtime_error("alloc status " + std::to_string(status));
    std::string out(static_cast<const char*>(p), len);
    EXPECT_EQ(morvik_buffer_free(p, len), MORVIK_OK);
    return out;
}

std::string Result(const Object& o) {
    return Queried([&](void* out, std::size_t* len) { return morvik_rc2_result(o.p, static_cast<std::uint8_t*>(out), len); });
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

TEST(CApi, MessagesInEveryForm) {
    const auto cases = ReadVec("messages.vec");
    ASSERT_GE(cases.size(), 16u);
    for (const auto& c : cases) {
        SCOPED_TRACE("messages.vec line " + std::to_string(c.line));
        const auto field = [](const std::string& f) { return f == "-" ? std::string() : f; };
        const std::string key_hex = c.fields[0], hex = field(c.fields[3]), asc = field(c.fields[4]);
        const std::string plain = Unhex(c.fields[2]);
        const std::string stripped = plain.substr(0, plain.find_last_not_of('\0') + 1);
        Object o;
        ASSERT_EQ(morvik_rc2_set_effective_key_length(o.p, std::stoi(c.fields[1])), MORVIK_OK);
        ASSERT_EQ(morvik_rc2_set_key_hex(o.p, key_hex.data(), key_hex.size()), MORVIK_OK);
        EXPECT_EQ(Queried([&](void* out, std::size_t* len) { return morvik_rc2_key_hex(o.p, static_cast<char*>(out), len); }),
                  Upper(key_hex));
        EXPECT_EQ(Allocated([&](void** out, std::size_t* len) { return morvik_rc2_key_alloc(o.p, reinterpret_cast<std::uint8_t**>(out), len); }),
                  Unhex(key_hex));

        EXPECT_EQ(Queried([&](void* out, std::size_t* len) {
                      return morvik_rc2_encrypt_asc(o.p, U(plain), plain.size(), static_cast<char*>(out), len);
                  }), asc);
        EXPECT_EQ(Allocated([&](void** out, std::size_t* len) { return morvik_rc2_result_hex_alloc(o.p, reinterpret_cast<char**>(out), len); }),
                  hex);
        EXPECT_EQ(Allocated([&](void** out, std::size_t* len) {
                      return morvik_rc2_encrypt_alloc(o.p, U(plain), plain.size(), reinterpret_cast<std::uint8_t**>(out), len);
                  }), Unhex(c.fields[3]));
        EXPECT_EQ(Queried([&](void* out, std::size_t* len) { return morvik_rc2_result_asc(o.p, static_cast<char*>(out), len); }), asc);

        EXPECT_EQ(Queried([&](void* out, std::size_t* len) {
                      return morvik_rc2_decrypt_hex(o.p, hex.data(), hex.size(), static_cast<std::uint8_t*>(out), len);
                  }), stripped);
        EXPECT_EQ(Allocated([&](void** out, std::size_t* len) {
                      return morvik_rc2_decrypt_asc_alloc(o.p, asc.data(), asc.size(), reinterpret_cast<std::uint8_t**>(out), len);
                  }), stripped);
        EXPECT_EQ(Result(o), stripped);

        std::string filled = plain;
        filled.resize(morvik_filled_size(plain.size()), '\0');
        EXPECT_EQ(Queried([&](void* out, std::size_t* len) { return morvik_zero_fill(U(plain), plain.size(), static_cast<std::uint8_t*>(out), len); }),
                  filled);
    }
}

TEST(CApi, CodecVectors) {
    for (const auto& c : ReadVec("armour.vec")) {
        SCOPED_TRACE("armour.vec line " + std::to_string(c.line));
        if (c.section == "error") {
            const std::string& text = c.fields[0];
            std::size_t len = 64;
            std::string out(64, '\x55');
            EXPECT_EQ(morvik_asc_decode(text.data(), text.size(), reinterpret_cast<std::uint8_t*>(out.data()), &len),
                      std::stoi(c.fields[1]));
            EXPECT_EQ(len, 64u);  // a failing call leaves *out_len alone
            continue;
        }
        const bool both = c.section == "both";
        const std::string& text = both ? c.fields[1] : c.fields[0];
        const std::string bytes = Unhex(both ? c.fields[0] : c.fields[1]);
        EXPECT_EQ(Queried([&](void* out, std::size_t* len) { return morvik_asc_decode(text.data(), text.size(), static_cast<std::uint8_t*>(out), len); }),
                  bytes);
        if (both) {
            EXPECT_EQ(Allocated([&](void** out, std::size_t* len) { return morvik_asc_encode_alloc(U(bytes), bytes.size(), reinterpret_cast<char**>(out), len); }),
                      text);
        }
    }
    for (const auto& c : ReadVec("hex.vec")) {
        SCOPED_TRACE("hex.vec line " + std::to_string(c.line));
        if (c.section == "read") {
            EXPECT_EQ(Queried([&](void* out, std::size_t* len) {
                          return morvik_hex_read(c.fields[0].data(), c.fields[0].size(), static_cast<std::uint8_t*>(out), len);
                      }), Unhex(c.fields[1]));
        } else {
            const std::string bytes = Unhex(c.fields[0]);
            EXPECT_EQ(Allocated([&](void** out, std::size_t* len) { return morvik_hex_write_alloc(U(bytes), bytes.size(), reinterpret_cast<char**>(out), len); }),
                      c.fields[1]);
        }
    }
}

// Every status the boundary returns, each from the call that must give it;
// none of the failing calls may change the last result.
TEST(CApi, Statuses) {
    Object o;
    const std::string before = "abc";
    std::uint8_t cipher[8];
    std::size_t cipher_len = sizeof cipher;
    ASSERT_EQ(morvik_rc2_encrypt(o.p, U(before), 3, cipher, &cipher_len), MORVIK_OK);
    const std::string result = Result(o);

    std::uint8_t buf[64];
    char text[64];
    std::size_t len = 0;
    void* alloc = nullptr;
    const std::string twelve = "twelve bytes", twelve_hex = "000102030405060708090a0b";
    struct Case {
        const char* what;
        std::function<int()> call;
        int expected;
    };
    const Case cases[] = {
        {"new into NULL",             [&] { return morvik_rc2_new(nullptr); },                                   MORVIK_E_NULL_POINTER},
        {"key of a NULL object",      [&] { return morvik_rc2_set_key(nullptr, U(before), 3); },                 MORVIK_E_NULL_POINTER},
        {"NULL key of 5 bytes",       [&] { return morvik_rc2_set_key(o.p, nullptr, 5); },                      MORVIK_E_NULL_POINTER},
        {"NULL hex key of 2 chars",   [&] { return morvik_rc2_set_key_hex(o.p, nullptr, 2); },                  MORVIK_E_NULL_POINTER},
        {"NULL out_len",              [&] { return morvik_rc2_key(o.p, buf, nullptr); },                         MORVIK_E_NULL_POINTER},
        {"NULL bits",                 [&] { return morvik_rc2_effective_key_length(o.p, nullptr); },            MORVIK_E_NULL_POINTER},
        {"NULL out with room",        [&] { len = 8; return morvik_rc2_encrypt(o.p, U(before), 3, nullptr, &len); }, MORVIK_E_NULL_POINTER},
        {"NULL text of 3 bytes",      [&] { len = 64; return morvik_rc2_encrypt(o.p, nullptr, 3, buf, &len); }, MORVIK_E_NULL_POINTER},
        {"NULL alloc target",         [&] { return morvik_rc2_encrypt_alloc(o.p, U(before), 3, nullptr, &len); }, MORVIK_E_NULL_POINTER},
        {"NULL alloc length",         [&] { return morvik_rc2_result_alloc(o.p, reinterpret_cast<std::uint8_t**>(&alloc), nullptr); }, MORVIK_E_NULL_POINTER},
        {"result of NULL object",     [&] { len = 64; return morvik_rc2_result(nullptr, buf, &len); },          MORVIK_E_NULL_POINTER},
        {"NULL armour to decode",     [&] { len = 64; return morvik_asc_decode(nullptr, 5, buf, &len); },       MORVIK_E_NULL_POINTER},
        {"encrypt into 7 bytes",      [&] { len = 7; return morvik_rc2_encrypt(o.p, U(before), 3, buf, &len); }, MORVIK_E_SHORT_BUFFER},
        {"armour into 12 chars",      [&] { len = 12; return morvik_rc2_encrypt_asc(o.p, U(before), 3, text, &len); }, MORVIK_E_SHORT_BUFFER},
        {"decrypt into 2 bytes",      [&] { len = 2; return morvik_rc2_decrypt(o.p, cipher, 8, buf, &len); },   MORVIK_E_SHORT_BUFFER},
        {"result hex into 15 chars",  [&] { len = 15; return morvik_rc2_result_hex(o.p, text, &len); },         MORVIK_E_SHORT_BUFFER},
        {"hex write query",           [&] { len = 0; return morvik_hex_write(U(before), 3, nullptr, &len); },   MORVIK_E_SHORT_BUFFER},
        {"decrypt 12 bytes",          [&] { len = 64; return morvik_rc2_decrypt(o.p, U(twelve), 12, buf, &len); }, MORVIK_E_INVALID_ARGUMENT},
        {"query of 12 bytes",         [&] { len = 0; return morvik_rc2_decrypt(o.p, U(twelve), 12, nullptr, &len); }, MORVIK_E_INVALID_ARGUMENT},
        {"decrypt_hex of 6 bytes",    [&] { len = 64; return morvik_rc2_decrypt_hex(o.p, twelve_hex.data(), 12, buf, &len); }, MORVIK_E_INVALID_ARGUMENT},
        {"decrypt_alloc of 12 bytes", [&] { return morvik_rc2_decrypt_alloc(o.p, U(twelve), 12, reinterpret_cast<std::uint8_t**>(&alloc), &len); }, MORVIK_E_INVALID_ARGUMENT},
        {"armour tail J",             [&] { len = 64; return morvik_rc2_decrypt_asc(o.p, "md9J", 4, buf, &len); }, MORVIK_E_OVERFLOW},
        {"armour byte above 255",     [&] { len = 64; return morvik_rc2_decrypt_asc(o.p, "ZZZZ0", 5, buf, &len); }, MORVIK_E_INVALID_ARGUMENT},
        {"codec tail J",              [&] { return morvik_asc_decode_alloc("md9J", 4, reinterpret_cast<std::uint8_t**>(&alloc), &len); }, MORVIK_E_OVERFLOW},
        {"key of 0 bytes ignored",    [&] { return morvik_rc2_set_key(o.p, nullptr, 0); },                      MORVIK_OK},
        {"key of 129 bytes ignored",  [&] { const std::string k(129, 'k'); return morvik_rc2_set_key(o.p, U(k), k.size()); }, MORVIK_OK},
        {"length 1025 ignored",       [&] { return morvik_rc2_set_effective_key_length(o.p, 1025); },          MORVIK_OK},
        {"decrypt of blanks",         [&] { len = 0; return morvik_rc2_decrypt(o.p, U(std::string(8, ' ')), 8, nullptr, &len); }, MORVIK_OK},
        {"free NULL object",          [&] { return morvik_rc2_free(nullptr); },                                 MORVIK_OK},
        {"free NULL buffer",          [&] { return morvik_buffer_free(nullptr, 5); },                           MORVIK_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::memset(buf, 0x55, sizeof buf);
        std::memset(text, 0x55, sizeof text);
        alloc = nullptr;
        EXPECT_EQ(c.call(), c.expected) << morvik_status_text(c.expected);
        EXPECT_EQ(Result(o), result);
        EXPECT_EQ(alloc, nullptr);
        if (c.expected != MORVIK_OK) {
            EXPECT_EQ(buf[0], 0x55);
            EXPECT_EQ(text[0], 0x55);
        }
    }
    // The short buffers were told the size they need.
    len = 7;
    EXPECT_EQ(morvik_rc2_encrypt(o.p, U(before), 3, buf, &len), MORVIK_E_SHORT_BUFFER);
    EXPECT_EQ(len, 8u);
    len = 2;
    EXPECT_EQ(morvik_rc2_decrypt(o.p, cipher, 8, buf, &len), MORVIK_E_SHORT_BUFFER);
    EXPECT_EQ(len, 3u);
    len = 0;
    EXPECT_EQ(morvik_rc2_encrypt_asc(o.p, U(before), 3, nullptr, &len), MORVIK_E_SHORT_BUFFER);
    EXPECT_EQ(len, 13u);

    EXPECT_STREQ(morvik_status_text(MORVIK_E_INVALID_ARGUMENT), "Invalid procedure call or argument");
    EXPECT_STREQ(morvik_status_text(MORVIK_E_OVERFLOW), "Overflow");
    EXPECT_STREQ(morvik_status_text(MORVIK_E_SUBSCRIPT_OUT_OF_RANGE), "Subscript out of range");
    const int own[] = {MORVIK_E_NULL_POINTER, MORVIK_E_SHORT_BUFFER, MORVIK_E_OUT_OF_MEMORY, MORVIK_E_INTERNAL};
    std::vector<std::string> texts;
    for (const int s : own) texts.push_back(morvik_status_text(s));
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(std::unique(texts.begin(), texts.end()), texts.end()) << "the boundary's statuses need distinct texts";
    EXPECT_STREQ(morvik_version(), morvik::kVersion);
}

// Size queries under random keys and texts: a buffer one byte short, or none,
// is told the exact size and changes nothing; that room then suffices, and
// gives what the C++ object gives.
TEST(CApi, SizeQueriesAreExact) {
    std::mt19937 rng(13);
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::string key(1 + rng() % 24, '\0');
        for (char& ch : key) ch = static_cast<char>(rng());
        std::string plain(rng() % 70, '\0');
        for (char& ch : plain) ch = static_cast<char>(rng() % 3 ? rng() : 0);  // zeros inside and at the end
        if (round % 7 == 0) plain.append(rng() % 20, '\0');
        const int bits = static_cast<int>(rng() % 1025);

        Object o;
        morvik::RC2 twin;
        ASSERT_EQ(morvik_rc2_set_effective_key_length(o.p, bits), MORVIK_OK);
        ASSERT_EQ(morvik_rc2_set_key(o.p, U(key), key.size()), MORVIK_OK);
        twin.EffectiveKeyLength(bits);
        twin.Key(key);
        std::string twin_text = plain;
        const std::string cipher = twin.Encrypt(twin_text);
        const std::string expected_plain = twin.Decrypt(cipher);

        struct Op {
            const char* what;
            std::function<int(std::uint8_t*, std::size_t*)> call;
            std::string expected;
        };
        const std::string cipher_asc = twin.ResultAsc();
        const Op ops[] = {
            {"encrypt", [&](std::uint8_t* out, std::size_t* len) { return morvik_rc2_encrypt(o.p, U(plain), plain.size(), out, len); }, cipher},
            {"decrypt", [&](std::uint8_t* out, std::size_t* len) { return morvik_rc2_decrypt(o.p, U(cipher), cipher.size(), out, len); }, expected_plain},
            {"encrypt_asc", [&](std::uint8_t* out, std::size_t* len) {
                 return morvik_rc2_encrypt_asc(o.p, U(plain), plain.size(), reinterpret_cast<char*>(out), len); },
             morvik::BlindAscii::Full2Asc(cipher)},
        };
        for (const auto& op : ops) {
            SCOPED_TRACE(op.what);
            const std::string result = Result(o);
            std::size_t len = 0;
            const int query = op.call(nullptr, &len);
            ASSERT_EQ(query, op.expected.empty() ? MORVIK_OK : MORVIK_E_SHORT_BUFFER);
            ASSERT_EQ(len, op.expected.size());
            if (!op.expected.empty()) {
                std::vector<std::uint8_t> short_buf(op.expected.size() - 1, 0x55);
                len = short_buf.size();
                ASSERT_EQ(op.call(short_buf.data(), &len), MORVIK_E_SHORT_BUFFER);
                EXPECT_EQ(len, op.expected.size());
                EXPECT_EQ(std::count(short_buf.begin(), short_buf.end(), 0x55), static_cast<long>(short_buf.size()));
            }
            // An empty output needs no room: that "query" was the call itself.
            if (!op.expected.empty()) {
                EXPECT_EQ(Result(o), result) << "a size query changed the last result";
            }
            std::vector<std::uint8_t> room(op.expected.size() + 4, 0x55);
            len = op.expected.size();
            ASSERT_EQ(op.call(room.data(), &len), MORVIK_OK);
            EXPECT_EQ(std::string(room.begin(), room.begin() + static_cast<long>(len)), op.expected);
            EXPECT_EQ(room[op.expected.size()], 0x55) << "written past the room given";
        }
    }
}

}  // namespace

namespace {

// The strict constructor refuses what the legacy object would silently
// ignore, with codes and texts of its own, and leaves *obj alone.
TEST(CApiStrict, RefusesBadKeysAndLengthsAndSetsTheLengthFirst) {
    const std::string key = "a key of some bytes";
    struct Row {
        std::size_t key_len;
        std::int32_t bits;
        int          status;
        const char*  text;
    } rows[] = {
        {0, 0, MORVIK_E_KEY_LENGTH, "the key: the key has 0 bytes; a key has 1 to 128 bytes"},
        {129, 0, MORVIK_E_KEY_LENGTH, "the key: the key has more than 128 bytes; a key has 1 to 128 bytes"},
        {5, 1025, MORVIK_E_EFFECTIVE_KEY_LENGTH, "the effective key length 1025: the effective key length must be 0 to 1024"},
        {5, -1, MORVIK_E_EFFECTIVE_KEY_LENGTH, "the effective key length -1: the effective key length must be 0 to 1024"},
    };
    const std::string long_key(200, 'k');
    for (const Row& row : rows) {
        morvik_rc2* obj = reinterpret_cast<morvik_rc2*>(&rows);  // must stay as it was
        EXPECT_EQ(morvik_rc2_new_key(&obj, U(long_key), row.key_len, row.bits), row.status) << row.text;
        EXPECT_EQ(obj, reinterpret_cast<morvik_rc2*>(&rows));
        EXPECT_STREQ(morvik_last_error(), row.text);
    }
    // Accepted: the same bytes as the legacy object given the length, then the key.
    morvik_rc2* strict = nullptr;
    ASSERT_EQ(morvik_rc2_new_key(&strict, U(key), key.size(), 63), MORVIK_OK);
    morvik::RC2 legacy;
    legacy.EffectiveKeyLength(63);
    legacy.Key(key);
    std::string text = "sixteen bytes...";
    const std::string expected = legacy.Encrypt(text);
    EXPECT_EQ(Queried([&](void* o, std::size_t* n) { return morvik_rc2_encrypt(strict, U(text), text.size(), static_cast<std::uint8_t*>(o), n); }),
              expected);
    EXPECT_EQ(morvik_rc2_free(strict), MORVIK_OK);
}

// The last error text is the tool's explanation of the same input.
TEST(CApiStrict, LastErrorExplainsWhereTheInputWentWrong) {
    Object o;
    std::size_t len = 64;
    std::uint8_t out[64];
    const std::string twelve = "twelve bytes";
    EXPECT_EQ(morvik_rc2_decrypt(o.p, U(twelve), twelve.size(), out, &len), MORVIK_E_INVALID_ARGUMENT);
    EXPECT_STREQ(morvik_last_error(),
                 "the ciphertext is 12 bytes long, not a multiple of 8: the block at byte offset 8 has only 4 bytes");
    const std::string asc = "md9J";
    len = sizeof out;
    EXPECT_EQ(morvik_rc2_decrypt_asc(o.p, asc.data(), asc.size(), out, &len), MORVIK_E_OVERFLOW);
    EXPECT_NE(std::string(morvik_last_error()).find("armoured text: the tail mark 'J' (character 4)"), std::string::npos)
        << morvik_last_error();
    len = 0;
    EXPECT_EQ(morvik_rc2_encrypt(o.p, U(twelve), twelve.size(), out, &len), MORVIK_E_SHORT_BUFFER);
    EXPECT_STREQ(morvik_last_error(), "the output needs 16 bytes; the buffer has room for 0");
    // A success leaves the text of the last failure.
    len = sizeof out;
    EXPECT_EQ(morvik_rc2_encrypt(o.p, U(twelve), twelve.size(), out, &len), MORVIK_OK);
    EXPECT_STREQ(morvik_last_error(), "the output needs 16 bytes; the buffer has room for 0");
}

}  // namespace

namespace {

// The conformance table through the C interface: the strict constructor, the
// members, and the last error's explanation naming the place.
TEST(CApiConformance, EveryRow) {
    int rows = 0;
    for (const auto& c : morvik::test::ReadConformance(morvik::test::DataPath("conformance.vec"))) {
        if (!c.For("c")) continue;
        ++rows;
        morvik_rc2* obj = nullptr;
        ASSERT_EQ(morvik_rc2_new_key(&obj, U(c.key), c.key.size(), c.bits), MORVIK_OK) << c.Where();
        void* out = nullptr;
        std::size_t len = 0;
        const auto* in = U(c.input);
        const auto* text = c.input.data();
        int status;
        if (c.encrypt) {
            status = c.form == "asc" ? morvik_rc2_encrypt_asc_alloc(obj, in, c.input.size(), reinterpret_cast<char**>(&out), &len)
                     : c.form == "hex" ? morvik_rc2_encrypt_alloc(obj, in, c.input.size(), reinterpret_cast<std::uint8_t**>(&out), &len)
                                       : morvik_rc2_encrypt_alloc(obj, in, c.input.size(), reinterpret_cast<std::uint8_t**>(&out), &len);
        } else {
            status = c.form == "asc" ? morvik_rc2_decrypt_asc_alloc(obj, text, c.input.size(), reinterpret_cast<std::uint8_t**>(&out), &len)
                     : c.form == "hex" ? morvik_rc2_decrypt_hex_alloc(obj, text, c.input.size(), reinterpret_cast<std::uint8_t**>(&out), &len)
                                       : morvik_rc2_decrypt_alloc(obj, in, c.input.size(), reinterpret_cast<std::uint8_t**>(&out), &len);
        }
        EXPECT_EQ(status, c.error) << c.Where() << ": " << morvik_last_error();
        if (status == MORVIK_OK) {
            std::string got(static_cast<const char*>(out), len);
            if (c.encrypt && c.form == "hex") {
                char* hex = nullptr;
                std::size_t hex_len = 0;
                ASSERT_EQ(morvik_rc2_result_hex_alloc(obj, &hex, &hex_len), MORVIK_OK);
                got.assign(hex, hex_len);
                morvik_buffer_free(hex, hex_len);
            }
            EXPECT_EQ(got, c.expected) << c.Where();
            morvik_buffer_free(out, len);
        } else {
            EXPECT_NE(std::string(morvik_last_error()).find(morvik::test::PlaceWords(c)), std::string::npos)
                << c.Where() << ": " << morvik_last_error();
        }
        EXPECT_EQ(morvik_rc2_free(obj), MORVIK_OK);
    }
    EXPECT_GE(rows, 15);
}

}  // namespace

namespace {

// Lengths that no buffer can have (a negative number passed as a size_t, or a
// size whose output would wrap around) get a status of their own, naming the
// length, from every call that takes one; nothing is read or changed.
TEST(CApiLengths, ImpossibleLengthsAreRefusedAsSuch) {
    Object o;
    const std::string plain = "abc";
    std::uint8_t cipher[8];
    std::size_t cipher_len = sizeof cipher;
    ASSERT_EQ(morvik_rc2_encrypt(o.p, U(plain), plain.size(), cipher, &cipher_len), MORVIK_OK);
    const std::string result = Result(o);
    const std::uint8_t* in = U(plain);  // three readable bytes; a refused call reads none of them
    const char* text = "ABC";
    std::uint8_t buf[64];
    char chars[64];
    void* alloc = nullptr;
    const std::size_t most = std::min<std::size_t>(std::string().max_size(), PTRDIFF_MAX);
    using Call = std::function<int(std::size_t n, std::size_t* len)>;
    const std::pair<const char*, Call> calls[] = {
        {"encrypt", [&](std::size_t n, std::size_t* len) { return morvik_rc2_encrypt(o.p, in, n, buf, len); }},
        {"encrypt query", [&](std::size_t n, std::size_t* len) { *len = 0; return morvik_rc2_encrypt(o.p, in, n, nullptr, len); }},
        {"encrypt_alloc", [&](std::size_t n, std::size_t* len) { return morvik_rc2_encrypt_alloc(o.p, in, n, reinterpret_cast<std::uint8_t**>(&alloc), len); }},
        {"encrypt_hex", [&](std::size_t n, std::size_t* len) { return morvik_rc2_encrypt_hex(o.p, text, n, buf, len); }},
        {"encrypt_asc", [&](std::size_t n, std::size_t* len) { return morvik_rc2_encrypt_asc(o.p, in, n, chars, len); }},
        {"decrypt", [&](std::size_t n, std::size_t* len) { return morvik_rc2_decrypt(o.p, in, n, buf, len); }},
        {"decrypt_hex_alloc", [&](std::size_t n, std::size_t* len) { return morvik_rc2_decrypt_hex_alloc(o.p, text, n, reinterpret_cast<std::uint8_t**>(&alloc), len); }},
        {"decrypt_asc", [&](std::size_t n, std::size_t* len) { return morvik_rc2_decrypt_asc(o.p, text, n, buf, len); }},
        {"set_key", [&](std::size_t n, std::size_t*) { return morvik_rc2_set_key(o.p, in, n); }},
        {"set_key_hex", [&](std::size_t n, std::size_t*) { return morvik_rc2_set_key_hex(o.p, text, n); }},
        {"new_key", [&](std::size_t n, std::size_t*) { morvik_rc2* made = nullptr; return morvik_rc2_new_key(&made, in, n, 0); }},
        {"zero_fill", [&](std::size_t n, std::size_t* len) { return morvik_zero_fill(in, n, buf, len); }},
        {"hex_write", [&](std::size_t n, std::size_t* len) { return morvik_hex_write(in, n, chars, len); }},
        {"hex_read_alloc", [&](std::size_t n, std::size_t* len) { return morvik_hex_read_alloc(text, n, reinterpret_cast<std::uint8_t**>(&alloc), len); }},
        {"asc_encode", [&](std::size_t n, std::size_t* len) { return morvik_asc_encode(in, n, chars, len); }},
        {"asc_decode", [&](std::size_t n, std::size_t* len) { return morvik_asc_decode(text, n, buf, len); }},
    };
    const std::pair<std::size_t, std::string> lengths[] = {
        {SIZE_MAX, " (the length -1 as a signed number?)"},
        {SIZE_MAX - 3, " (the length -4 as a signed number?)"},
        {std::size_t{PTRDIFF_MAX} + 1, " (the length " + std::to_string(PTRDIFF_MIN) + " as a signed number?)"},
        // Within PTRDIFF_MAX where strings hold less.
        {most + 1, most < PTRDIFF_MAX ? "" : " (the length " + std::to_string(PTRDIFF_MIN) + " as a signed number?)"},
    };
    for (const auto& [name, call] : calls) {
        for (const auto& [n, why] : lengths) {
            SCOPED_TRACE(std::string(name) + " of " + std::to_string(n) + " bytes");
            alloc = nullptr;
            std::size_t len = sizeof buf;
            std::memset(buf, 0x55, sizeof buf);
            EXPECT_EQ(call(n, &len), MORVIK_E_LENGTH);
            EXPECT_EQ(alloc, nullptr);
            EXPECT_EQ(buf[0], 0x55);
            EXPECT_EQ(morvik_last_error(), "an input of " + std::to_string(n) + " bytes, more than a buffer can hold" + why);
            EXPECT_EQ(Result(o), result);
        }
    }
    std::size_t room = sizeof buf;
    EXPECT_EQ(morvik_rc2_key(o.p, buf, &room), MORVIK_OK);
    EXPECT_EQ(room, 0u) << "a refused key changed the key";
    EXPECT_STREQ(morvik_status_text(MORVIK_E_LENGTH), "Length beyond any buffer");
    EXPECT_STRNE(morvik_status_text(MORVIK_E_LENGTH), morvik_status_text(MORVIK_E_INTERNAL));
}

}  // namespace
