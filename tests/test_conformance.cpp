// The conformance table through the C++ library: the object's members, the
// length set before the key as a script sets it.
#include <gtest/gtest.h>

#include <morvik/error.h>
#include <morvik/rc2.h>

#include "tests/support/conformance.h"

namespace {

using morvik::ErrorPosition;
using morvik::test::ConformanceCase;

const char* KindName(ErrorPosition::Kind kind) {
    switch (kind) {
        case ErrorPosition::Kind::IncompleteBlock: return "incomplete_block";
        case ErrorPosition::Kind::Group:           return "group";
        case ErrorPosition::Kind::TailMark:        return "tail_mark";
        case ErrorPosition::Kind::MalformedUtf8:   return "malformed_utf8";
        case ErrorPosition::Kind::Unmappable:      return "unmappable";
        case ErrorPosition::Kind::None:            break;
    }
    return "";
}

std::string Member(const ConformanceCase& c) {
    morvik::RC2 rc2;
    rc2.EffectiveKeyLength(c.bits);
    rc2.Key(c.key);
    std::string text = c.input;
    if (c.encrypt) {
        if (c.form == "asc") return rc2.EncryptAsc(text);
        const std::string cipher = rc2.Encrypt(text);
        return c.form == "hex" ? rc2.ResultHex() : cipher;
    }
    if (c.form == "hex") return rc2.DecryptHex(text);
    if (c.form == "asc") return rc2.DecryptAsc(text);
    return rc2.Decrypt(text);
}

TEST(Conformance, TheLibraryGivesEveryRow) {
    int rows = 0;
    for (const ConformanceCase& c : morvik::test::ReadConformance(morvik::test::DataPath("conformance.vec"))) {
        if (!c.For("cpp")) continue;
        ++rows;
        try {
            const std::string out = Member(c);
            EXPECT_EQ(c.error, 0) << c.Where() << ": succeeded";
            EXPECT_EQ(out, c.expected) << c.Where();
        } catch (const morvik::Error& e) {
            EXPECT_EQ(e.code(), c.error) << c.Where();
            if (!c.kind.empty()) {
                const ErrorPosition& at = e.position();
                EXPECT_EQ(KindName(at.kind), c.kind) << c.Where();
                const std::uint64_t place = at.kind == ErrorPosition::Kind::IncompleteBlock ? at.offset : at.character;
                EXPECT_EQ(place, c.place) << c.Where();
            }
        }
    }
    EXPECT_GE(rows, 15);
}

}  // namespace
