// An early-bound client of the registered server: CoCreateInstance by ProgID,
// every slot of _RC2, the earlier identifier, the class object and module
// exports, error HRESULTs with their error information, and IDispatch::Invoke
// with arguments by value and by reference.
//
// Known answers: RFC 2268's vectors, and texts encrypted with OpenSSL's RC2
// (RC2_set_key with the effective bits, RC2_ecb_encrypt, zero filling) and
// armoured by an independent base-66 encoder.
#include <initguid.h>
#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <cguid.h>

#include "morvik.h"
#include "morvik_iids.h"
#include "com_test.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace morvik::test;

// Byte string <-> text through the ANSI code page, as the server does.
std::wstring Chars(const std::string& bytes) {
    std::wstring s(bytes.size(), L'\0');
    if (!bytes.empty())
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), s.data(),
                            static_cast<int>(s.size()));
    return s;
}

std::wstring Zeros(std::size_t n) { return std::wstring(n, L'\0'); }

const auto* const kApartment = ::testing::AddGlobalTestEnvironment(new ComApartment);

// ---- The object through its vtable -------------------------------------------------

TEST(Client, ProgIdResolvesToTheClassAndTheCodePageIsWestern) {
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(L"Morvik.RC2", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_RC2));
    // The known answers with non-ASCII characters assume code page 1252.
    EXPECT_EQ(GetACP(), 1252u);
}

TEST(Client, NewObjectIsEmpty) {
    auto rc2 = CreateRC2();
    LONG bits = -1;
    EXPECT_EQ(rc2->get_EffectiveKeyLength(&bits), S_OK);
    EXPECT_EQ(bits, 0);
    for (Getter g : {&_RC2::get_Key, &_RC2::get_KeyHex, &_RC2::get_Result, &_RC2::get_ResultHex,
                     &_RC2::get_ResultAsc})
        EXPECT_EQ(Get(rc2.get(), g), L"");
}

struct HexVector {
    LONG bits;
    const wchar_t* key;
    const wchar_t* plain;
    const wchar_t* cipher;
    const wchar_t* plain_stripped;  // what Decrypt gives back: trailing zero bytes go
};

// RFC 2268, section 5, and a 129-bit effective length.
const HexVector kRfcVectors[] = {
    {63, L"0000000000000000", L"0000000000000000", L"EBB773F993278EFF", L""},
    {64, L"ffffffffffffffff", L"ffffffffffffffff", L"278B27E42E2F0D49", L"FFFFFFFFFFFFFFFF"},
    {64, L"3000000000000000", L"1000000000000001", L"30649EDF9BE7D2C2", L"1000000000000001"},
    {64, L"88", L"0000000000000000", L"61A8A244ADACCCF0", L""},
    {64, L"88bca90e90875a7f0f79c384627bafb2", L"0000000000000000", L"1A807D272BBE5DB1", L""},
    {128, L"88bca90e90875a7f0f79c384627bafb2", L"0000000000000000", L"2269552AB0F85CA6", L""},
    {129, L"88bca90e90875a7f0f79c384627bafb216f80a6f85920584c42fceb0be255daf1e", L"0000000000000000",
     L"5B78D3A43DFFF1F1", L""},
};

TEST(Client, HexMembersMeetTheRfcVectors) {
    for (const HexVector& v : kRfcVectors) {
        SCOPED_TRACE(v.key);
        auto rc2 = CreateRC2();
        PutBits(rc2.get(), v.bits);
        Bstr key(v.key);
        ASSERT_EQ(rc2->put_KeyHex(key.inout()), S_OK);
        std::wstring upper = v.key;
        for (auto& c : upper) c = static_cast<wchar_t>(towupper(c));
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_KeyHex), upper);
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_Key).size(), upper.size() / 2);

        const std::wstring cipher = Call(rc2.get(), &_RC2::EncryptHex, v.plain);
        EXPECT_EQ(cipher.size(), 8u);
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_ResultHex), v.cipher);
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_Result), cipher);

        Call(rc2.get(), &_RC2::DecryptHex, v.cipher);
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_ResultHex), v.plain_stripped);
    }
}

// Whole messages from the project's shared vectors (ciphertexts from OpenSSL);
// the library's own tests and the command-line tool's run the same file.
TEST(Client, SharedMessageVectors) {
    int count = 0;
    for (const Message& m : ReadMessages(MORVIK_SHARED_DATA "/messages.vec")) {
        std::string upper = m.plain_hex;
        for (auto& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        while (upper.size() >= 2 && upper.compare(upper.size() - 2, 2, "00") == 0) upper.resize(upper.size() - 2);
        SCOPED_TRACE(m.where);

        auto rc2 = CreateRC2();
        PutBits(rc2.get(), m.bits);
        ASSERT_EQ(PutKeyHex(rc2.get(), Wide(m.key_hex)), S_OK);
        Call(rc2.get(), &_RC2::EncryptHex, Wide(m.plain_hex));
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_ResultHex), Wide(m.cipher_hex));
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_ResultAsc), Wide(m.asc));
        Call(rc2.get(), &_RC2::DecryptAsc, Wide(m.asc));
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_ResultHex), Wide(upper));
        Call(rc2.get(), &_RC2::DecryptHex, Wide(m.cipher_hex));
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_ResultHex), Wide(upper));
        ++count;
    }
    EXPECT_GE(count, 16);
}

struct TextVector {
    LONG bits;
    std::string key, text;
    const wchar_t* cipher_hex;
    const wchar_t* cipher_asc;
};

const TextVector kTextVectors[] = {
    {0, "Morvik", "Attack at dawn", L"CF6CFDE2AAAA3EDEB17CAE40204F96B3", L"LiLvPId8elVXsrS87o7M002L1"},
    {40, "Morvik", "Attack at dawn", L"ACA905E1268383245C5A03B1549F9967", L"DnIpPlpBtX24kyhDjjax001B1"},
    {0, "Morvik", "abc", L"83BA78D925336011", L"u1UkNw+L05GF2"},
    {0, "K\xE9y\x80", "abc", L"D1CFE504967A6D27", L"LSF3131A06rp2"},  // "Kéy€" in code page 1252
};

TEST(Client, TextMembersMeetKnownAnswers) {
    for (const TextVector& v : kTextVectors) {
        SCOPED_TRACE(v.cipher_hex);
        const std::wstring text = Chars(v.text);
        const std::wstring filled = text + Zeros((8 - text.size() % 8) % 8);

        auto rc2 = CreateRC2();
        PutBits(rc2.get(), v.bits);
        ASSERT_EQ(PutKey(rc2.get(), Chars(v.key)), S_OK);
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_Key), Chars(v.key));

        Bstr arg(text), cipher;
        ASSERT_EQ(rc2->Encrypt(arg.inout(), cipher.out()), S_OK);
        EXPECT_EQ(arg.text(), filled) << "Encrypt writes its zero filling back";
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_ResultHex), v.cipher_hex);
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_ResultAsc), v.cipher_asc);
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_Result), cipher.text());

        EXPECT_EQ(Call(rc2.get(), &_RC2::Decrypt, cipher.text()), text);
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_Result), text);

        Bstr arg2(text), asc;
        ASSERT_EQ(rc2->EncryptAsc(arg2.inout(), asc.out()), S_OK);
        EXPECT_EQ(asc.text(), v.cipher_asc);
        EXPECT_EQ(arg2.text(), filled) << "EncryptAsc writes Encrypt's zero filling back";
        EXPECT_EQ(Call(rc2.get(), &_RC2::DecryptAsc, v.cipher_asc), text);
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_ResultAsc), Call(rc2.get(), &_RC2::EncryptAsc, text));
    }
}

TEST(Client, EveryByteValueCrossesTheBoundaryBothWays) {
    std::string bytes;
    for (int b = 1; b < 256; ++b) bytes += static_cast<char>(b);
    const std::wstring text = Chars(bytes);
    auto rc2 = CreateRC2();
    ASSERT_EQ(PutKey(rc2.get(), text.substr(127)), S_OK);  // bytes 128..255
    EXPECT_EQ(Get(rc2.get(), &_RC2::get_Key), text.substr(127));
    const std::wstring hex = Get(rc2.get(), &_RC2::get_KeyHex);
    EXPECT_EQ(hex.substr(0, 4), L"8081");
    EXPECT_EQ(hex.substr(hex.size() - 4), L"FEFF");
    const std::wstring cipher = Call(rc2.get(), &_RC2::Encrypt, text);
    EXPECT_EQ(Call(rc2.get(), &_RC2::Decrypt, cipher), text);
}

TEST(Client, OutOfRangePropertyValuesAreIgnored) {
    auto rc2 = CreateRC2();
    LONG bits = 0;
    for (const auto& [set, expect] : std::vector<std::pair<LONG, LONG>>{{1024, 1024}, {1025, 1024}, {-1, 1024}, {0, 0}}) {
        PutBits(rc2.get(), set);
        ASSERT_EQ(rc2->get_EffectiveKeyLength(&bits), S_OK);
        EXPECT_EQ(bits, expect) << "after setting " << set;
    }
    ASSERT_EQ(PutKey(rc2.get(), L"key"), S_OK);
    ASSERT_EQ(PutKey(rc2.get(), std::wstring(129, L'k')), S_OK);
    ASSERT_EQ(PutKey(rc2.get(), L""), S_OK);
    EXPECT_EQ(Get(rc2.get(), &_RC2::get_Key), L"key");
    ASSERT_EQ(PutKey(rc2.get(), std::wstring(128, L'k')), S_OK);
    EXPECT_EQ(Get(rc2.get(), &_RC2::get_Key).size(), 128u);
}

// Only Encrypt and EncryptAsc change their argument; every member gets the
// caller's own BSTR* here.
TEST(Client, OnlyEncryptAndEncryptAscWriteBack) {
    struct Row {
        Method member;
        const wchar_t* arg;
        std::wstring after;
    };
    const Row rows[] = {
        {&_RC2::Encrypt, L"abc", L"abc" + Zeros(5)},
        {&_RC2::EncryptAsc, L"abc", L"abc" + Zeros(5)},
        {&_RC2::Encrypt, L"abcdefgh", L"abcdefgh"},
        {&_RC2::Decrypt, L"abcdefgh", L"abcdefgh"},
        {&_RC2::EncryptHex, L"abc", L"abc"},
        {&_RC2::DecryptHex, L"0011223344556677", L"0011223344556677"},
        {&_RC2::DecryptAsc, L"LSF3131A06rp2", L"LSF3131A06rp2"},
    };
    auto rc2 = CreateRC2();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arg);
        Bstr arg(row.arg), out;
        ASSERT_EQ((rc2.get()->*row.member)(arg.inout(), out.out()), S_OK);
        EXPECT_EQ(arg.text(), row.after);
    }
    Bstr key(L"abc"), key_hex(L"616263");
    LONG bits = 1025;
    ASSERT_EQ(rc2->put_Key(key.inout()), S_OK);
    ASSERT_EQ(rc2->put_KeyHex(key_hex.inout()), S_OK);
    ASSERT_EQ(rc2->put_EffectiveKeyLength(&bits), S_OK);
    EXPECT_EQ(key.text(), L"abc");
    EXPECT_EQ(key_hex.text(), L"616263");
    EXPECT_EQ(bits, 1025);
}

// A character without a single-byte form in the code page fails with 6
// before anything changes, instead of encrypting a '?' in its place.
TEST(Client, UnmappableCharacterFailsWithOverflowAndChangesNothing) {
    const std::wstring bad = L"a\x03A9z";  // GREEK CAPITAL OMEGA: not in code page 1252
    auto rc2 = CreateRC2();
    ASSERT_EQ(PutKey(rc2.get(), L"old key"), S_OK);
    const std::wstring old_cipher = Call(rc2.get(), &_RC2::Encrypt, L"probe");

    Bstr key(bad);
    EXPECT_EQ(rc2->put_Key(key.inout()), kOverflow);
    EXPECT_EQ(LastError(), std::make_pair(std::wstring(L"Overflow"), std::wstring(L"Morvik.RC2")));
    EXPECT_EQ(Get(rc2.get(), &_RC2::get_Key), L"old key");
    EXPECT_EQ(Call(rc2.get(), &_RC2::Encrypt, L"probe"), old_cipher) << "the expanded key changed";

    for (Method m : {&_RC2::Encrypt, &_RC2::EncryptAsc, &_RC2::Decrypt}) {
        Bstr arg(bad), out;
        const BSTR before = arg.get();
        EXPECT_EQ((rc2.get()->*m)(arg.inout(), out.out()), kOverflow);
        EXPECT_EQ(out.get(), nullptr);
        EXPECT_EQ(arg.get(), before);
        EXPECT_EQ(arg.text(), bad);
        EXPECT_EQ(LastError().first, L"Overflow");
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_Result), old_cipher);
    }
}

TEST(Client, MalformedInputFailsWithItsErrorAndLeavesResult) {
    struct Row {
        Method member;
        const wchar_t* arg;
        HRESULT hr;
        const wchar_t* description;
    };
    const Row rows[] = {
        {&_RC2::Decrypt, L"12345678abcd", kInvalidArgument, L"Invalid procedure call or argument"},
        {&_RC2::DecryptHex, L"000102030405060708090A0B", kInvalidArgument, L"Invalid procedure call or argument"},
        {&_RC2::DecryptAsc, L"ZZZZ0", kInvalidArgument, L"Invalid procedure call or argument"},
        {&_RC2::DecryptAsc, L"md9J", kOverflow, L"Overflow"},
        {&_RC2::DecryptAsc, L"abc", kOverflow, L"Overflow"},
    };
    auto rc2 = CreateRC2();
    const std::wstring result = Call(rc2.get(), &_RC2::Encrypt, L"kept");
    Ptr<ISupportErrorInfo> support;
    ASSERT_EQ(rc2->QueryInterface(IID_ISupportErrorInfo, support.out()), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID__RC2), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_RC2___v0), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IClassFactory), S_FALSE);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arg);
        Bstr arg(row.arg), out;
        EXPECT_EQ((rc2.get()->*row.member)(arg.inout(), out.out()), row.hr);
        EXPECT_EQ(out.get(), nullptr);
        EXPECT_EQ(LastError(), std::make_pair(std::wstring(row.description), std::wstring(L"Morvik.RC2")));
        EXPECT_EQ(Get(rc2.get(), &_RC2::get_Result), result);
    }
}

// Hex and armoured texts are read character by character: anything outside
// ASCII is simply not a digit, and never an error.
TEST(Client, NonAsciiCharactersInHexAndArmourAreNotDigits) {
    auto rc2 = CreateRC2();
    Bstr key(L"4142\x00E9" L"1");
    ASSERT_EQ(rc2->put_KeyHex(key.inout()), S_OK);
    EXPECT_EQ(Get(rc2.get(), &_RC2::get_KeyHex), L"414200");
    EXPECT_EQ(Call(rc2.get(), &_RC2::EncryptHex, L"41\x0100\x0130" L"42"), Call(rc2.get(), &_RC2::EncryptHex, L"41zz42"));
    EXPECT_EQ(Call(rc2.get(), &_RC2::DecryptAsc, L"\x20AC"), L"");
}

TEST(Client, NullPointersAreRefused) {
    auto rc2 = CreateRC2();
    Bstr arg(L"x"), out;
    EXPECT_EQ(rc2->Encrypt(nullptr, out.out()), E_POINTER);
    EXPECT_EQ(rc2->Encrypt(arg.inout(), nullptr), E_POINTER);
    EXPECT_EQ(rc2->put_Key(nullptr), E_POINTER);
    EXPECT_EQ(rc2->get_Result(nullptr), E_POINTER);
    EXPECT_EQ(rc2->put_EffectiveKeyLength(nullptr), E_POINTER);
    Bstr null_text;  // a null BSTR is the empty string
    EXPECT_EQ(rc2->Encrypt(null_text.inout(), out.out()), S_OK);
    EXPECT_EQ(SysStringLen(out.get()), 0u);
}

// ---- Identity, type library and module ---------------------------------------------

TEST(Client, EarlierIdentifierGivesTheSameInterface) {
    auto rc2 = CreateRC2();
    Ptr<IUnknown> unknown, dispatch, current, earlier;
    ASSERT_EQ(rc2->QueryInterface(IID_IUnknown, unknown.out()), S_OK);
    ASSERT_EQ(rc2->QueryInterface(IID_IDispatch, dispatch.out()), S_OK);
    ASSERT_EQ(rc2->QueryInterface(IID__RC2, current.out()), S_OK);
    ASSERT_EQ(rc2->QueryInterface(IID_RC2___v0, earlier.out()), S_OK);
    EXPECT_EQ(unknown.get(), static_cast<IUnknown*>(rc2.get()));
    EXPECT_EQ(dispatch.get(), unknown.get());
    EXPECT_EQ(current.get(), unknown.get());
    EXPECT_EQ(earlier.get(), unknown.get());

    // Slot 21 through the earlier identifier is EncryptAsc.
    auto* old = reinterpret_cast<_RC2*>(earlier.get());
    Bstr text(L"abc"), asc;
    ASSERT_EQ(old->EncryptAsc(text.inout(), asc.out()), S_OK);
    EXPECT_EQ(asc.text(), Get(rc2.get(), &_RC2::get_ResultAsc));
    EXPECT_EQ(asc.text().size(), 13u);

    Ptr<IUnknown> none;
    EXPECT_EQ(rc2->QueryInterface(IID_IClassFactory, none.out()), E_NOINTERFACE);
    EXPECT_EQ(none.get(), nullptr);
    EXPECT_EQ(rc2->QueryInterface(LIBID_Morvik, none.out()), E_NOINTERFACE);
}

TEST(Client, TypeLibraryDescribesInterfaceClassAndAlias) {
    Ptr<ITypeLib> lib;
    ASSERT_EQ(LoadRegTypeLib(LIBID_Morvik, 1, 1, 0, lib.addr()), S_OK);
    TLIBATTR* la = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&la), S_OK);
    EXPECT_EQ(la->wMajorVerNum, 1);
    EXPECT_EQ(la->wMinorVerNum, 1);
    EXPECT_EQ(la->lcid, 0u);
    EXPECT_EQ(la->wLibFlags & (LIBFLAG_FRESTRICTED | LIBFLAG_FCONTROL | LIBFLAG_FHIDDEN), 0);
    lib->ReleaseTLibAttr(la);
    Bstr name;
    ASSERT_EQ(lib->GetDocumentation(-1, name.out(), nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(name.text(), L"Morvik");
    ASSERT_EQ(lib->GetTypeInfoCount(), 3u);

    struct Expect {
        const wchar_t* name;
        TYPEKIND kind;
        const GUID* guid;
        WORD flags, major, minor;
    };
    const Expect expect[] = {
        {L"_RC2", TKIND_DISPATCH, &IID__RC2,
         TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION |
             TYPEFLAG_FDISPATCHABLE, 1, 1},
        {L"RC2", TKIND_COCLASS, &CLSID_RC2, TYPEFLAG_FCANCREATE, 1, 1},
        {L"RC2___v0", TKIND_ALIAS, &IID_RC2___v0, TYPEFLAG_FHIDDEN, 1, 0},
    };
    for (UINT i = 0; i < 3; ++i) {
        SCOPED_TRACE(expect[i].name);
        Ptr<ITypeInfo> info;
        ASSERT_EQ(lib->GetTypeInfo(i, info.addr()), S_OK);
        ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, name.out(), nullptr, nullptr, nullptr), S_OK);
        EXPECT_EQ(name.text(), expect[i].name);
        TYPEATTR* ta = nullptr;
        ASSERT_EQ(info->GetTypeAttr(&ta), S_OK);
        EXPECT_EQ(ta->typekind, expect[i].kind);
        EXPECT_TRUE(IsEqualGUID(ta->guid, *expect[i].guid));
        // The dispatch half of a dual interface does not report
        // oleautomation; its vtable half (checked below) does.
        EXPECT_EQ(ta->wTypeFlags & ~TYPEFLAG_FOLEAUTOMATION, expect[i].flags & ~TYPEFLAG_FOLEAUTOMATION);
        EXPECT_EQ(ta->wMajorVerNum, expect[i].major);
        EXPECT_EQ(ta->wMinorVerNum, expect[i].minor);
        info->ReleaseTypeAttr(ta);
    }
}

// The server, its type library and these tests take the dispatch identifiers
// from morvik.idl; clients bound by identifier hold the numbers themselves,
// so the file may never move them.
static_assert(DISPID_RC2_ResultAsc == 0x68030000 && DISPID_RC2_ResultHex == 0x68030001 &&
              DISPID_RC2_Result == 0x68030002 && DISPID_RC2_Key == 0x68030003 && DISPID_RC2_KeyHex == 0x68030004 &&
              DISPID_RC2_EffectiveKeyLength == 0x68030005 && DISPID_RC2_Encrypt == 0x60030013 &&
              DISPID_RC2_Decrypt == 0x60030014 && DISPID_RC2_EncryptHex == 0x60030015 &&
              DISPID_RC2_DecryptHex == 0x60030016 && DISPID_RC2_DecryptAsc == 0x60030017 &&
              DISPID_RC2_EncryptAsc == 0x6003001C);

TEST(Client, VtableSlotsFollowTheMemberTable) {
    struct Slot {
        const wchar_t* name;
        INVOKEKIND kind;
        DISPID id;
        SHORT params;  // including the return value
    };
    const Slot slots[] = {
        {L"EffectiveKeyLength", INVOKE_PROPERTYGET, DISPID_RC2_EffectiveKeyLength, 1},
        {L"EffectiveKeyLength", INVOKE_PROPERTYPUT, DISPID_RC2_EffectiveKeyLength, 1},
        {L"KeyHex", INVOKE_PROPERTYPUT, DISPID_RC2_KeyHex, 1},
        {L"Key", INVOKE_PROPERTYGET, DISPID_RC2_Key, 1},
        {L"KeyHex", INVOKE_PROPERTYGET, DISPID_RC2_KeyHex, 1},
        {L"Key", INVOKE_PROPERTYPUT, DISPID_RC2_Key, 1},
        {L"Encrypt", INVOKE_FUNC, DISPID_RC2_Encrypt, 2},
        {L"Decrypt", INVOKE_FUNC, DISPID_RC2_Decrypt, 2},
        {L"EncryptHex", INVOKE_FUNC, DISPID_RC2_EncryptHex, 2},
        {L"DecryptHex", INVOKE_FUNC, DISPID_RC2_DecryptHex, 2},
        {L"DecryptAsc", INVOKE_FUNC, DISPID_RC2_DecryptAsc, 2},
        {L"Result", INVOKE_PROPERTYGET, DISPID_RC2_Result, 1},
        {L"ResultHex", INVOKE_PROPERTYGET, DISPID_RC2_ResultHex, 1},
        {L"ResultAsc", INVOKE_PROPERTYGET, DISPID_RC2_ResultAsc, 1},
        {L"EncryptAsc", INVOKE_FUNC, DISPID_RC2_EncryptAsc, 2},
    };
    Ptr<ITypeLib> lib;
    ASSERT_EQ(LoadRegTypeLib(LIBID_Morvik, 1, 1, 0, lib.addr()), S_OK);
    Ptr<ITypeInfo> dispatch, vtable;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID__RC2, dispatch.addr()), S_OK);
    HREFTYPE ref = 0;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
    ASSERT_EQ(dispatch->GetRefTypeInfo(ref, vtable.addr()), S_OK);
    TYPEATTR* ta = nullptr;
    ASSERT_EQ(vtable->GetTypeAttr(&ta), S_OK);
    EXPECT_EQ(ta->typekind, TKIND_INTERFACE);
    EXPECT_EQ(ta->wTypeFlags, TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION |
                                  TYPEFLAG_FDISPATCHABLE);
    EXPECT_EQ(ta->cFuncs, 15);
    EXPECT_EQ(ta->cbSizeVft, 22 * sizeof(void*));
    vtable->ReleaseTypeAttr(ta);
    for (UINT i = 0; i < 15; ++i) {
        SCOPED_TRACE(slots[i].name);
        FUNCDESC* fd = nullptr;
        ASSERT_EQ(vtable->GetFuncDesc(i, &fd), S_OK);
        EXPECT_EQ(fd->oVft, static_cast<SHORT>((7 + i) * sizeof(void*)));
        EXPECT_EQ(fd->memid, slots[i].id);
        EXPECT_EQ(fd->invkind, slots[i].kind);
        EXPECT_EQ(fd->cParams, slots[i].params);
        const USHORT inout = PARAMFLAG_FIN | PARAMFLAG_FOUT;
        if (slots[i].kind != INVOKE_PROPERTYGET) {
            EXPECT_EQ(fd->lprgelemdescParam[0].paramdesc.wParamFlags & inout, inout);
            EXPECT_EQ(fd->lprgelemdescParam[0].tdesc.vt, VT_PTR);
        }
        Bstr name;
        UINT got = 0;
        ASSERT_EQ(vtable->GetNames(fd->memid, name.inout(), 1, &got), S_OK);
        EXPECT_EQ(name.text(), slots[i].name);
        vtable->ReleaseFuncDesc(fd);
    }
}

TEST(Client, ModuleResourcesCarryIdentifiersAndVersion) {
    const std::wstring path = RegisteredModulePath();
    ASSERT_FALSE(path.empty());
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    HRSRC list = FindResourceW(module, MAKEINTRESOURCEW(1), L"_IID_RC2");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(SizeofResource(module, list), 36u);
    const auto* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(module, list)));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | bytes[3] << 24, 32);
    EXPECT_EQ(std::memcmp(bytes + 4, &IID_RC2___v0, 16), 0);
    EXPECT_EQ(std::memcmp(bytes + 20, &IID__RC2, 16), 0);
    EXPECT_NE(FindResourceExW(module, L"TYPELIB", MAKEINTRESOURCEW(1), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)),
              nullptr);
    FreeLibrary(module);

    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<unsigned char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010002u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010002u);
    wchar_t* text = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\000004B0\\FileVersion",
                               reinterpret_cast<void**>(&text), &len));
    EXPECT_EQ(std::wstring(text), L"1.02");
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\000004B0\\OLESelfRegister",
                               reinterpret_cast<void**>(&text), &len));
    EXPECT_EQ(std::wstring(text), L"");
}

// The module's own exports, called directly on the module that COM loaded.
class Exports : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryW(RegisteredModulePath().c_str());
        ASSERT_NE(module_, nullptr);
        get_class_ = reinterpret_cast<decltype(get_class_)>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
        can_unload_ = reinterpret_cast<decltype(can_unload_)>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
        ASSERT_NE(get_class_, nullptr);
        ASSERT_NE(can_unload_, nullptr);
        ASSERT_NE(GetProcAddress(module_, "DllRegisterServer"), nullptr);
        ASSERT_NE(GetProcAddress(module_, "DllUnregisterServer"), nullptr);
    }
    void TearDown() override { FreeLibrary(module_); }

    HMODULE module_ = nullptr;
    HRESULT (STDAPICALLTYPE* get_class_)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT (STDAPICALLTYPE* can_unload_)() = nullptr;
};

TEST_F(Exports, ClassObjectOnlyForTheClass) {
    for (const GUID* wrong : {&LIBID_Morvik, &IID__RC2, &IID_RC2___v0, &IID_IUnknown, &GUID_NULL}) {
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(get_class_(*wrong, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(object, nullptr);
    }
    Ptr<IUnknown> factory;
    EXPECT_EQ(get_class_(CLSID_RC2, IID_IClassFactory, factory.out()), S_OK);
    EXPECT_EQ(get_class_(CLSID_RC2, IID_IUnknown, factory.out()), S_OK);
    EXPECT_EQ(get_class_(CLSID_RC2, IID__RC2, factory.out()), E_NOINTERFACE);
    EXPECT_EQ(factory.get(), nullptr);
}

TEST_F(Exports, AggregationIsRefused) {
    Ptr<IClassFactory> factory;
    ASSERT_EQ(get_class_(CLSID_RC2, IID_IClassFactory, factory.out()), S_OK);
    auto outer = CreateRC2();
    Ptr<IUnknown> inner;
    EXPECT_EQ(factory->CreateInstance(outer.get(), IID_IUnknown, inner.out()), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(inner.get(), nullptr);
    EXPECT_EQ(CoCreateInstance(CLSID_RC2, outer.get(), CLSCTX_INPROC_SERVER, IID_IUnknown, inner.out()),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, inner.out()), E_NOINTERFACE);
    EXPECT_EQ(inner.get(), nullptr);
}

TEST_F(Exports, CanUnloadNowFollowsObjectsLocksAndTheClassObject) {
    EXPECT_EQ(can_unload_(), S_OK);
    const auto factory = [&] {
        Ptr<IClassFactory> f;
        EXPECT_EQ(get_class_(CLSID_RC2, IID_IClassFactory, f.out()), S_OK);
        return f;
    };
    {  // the class object alone: a client may keep it to make objects later
        auto f = factory();
        EXPECT_EQ(can_unload_(), S_FALSE);
        Ptr<IUnknown> again;
        ASSERT_EQ(f->QueryInterface(IID_IUnknown, again.out()), S_OK);
        f.reset();
        EXPECT_EQ(can_unload_(), S_FALSE);
        again.reset();
        EXPECT_EQ(can_unload_(), S_OK);
    }

    // Objects alone: each call below lets the class object go again.
    Ptr<_RC2> first, second;
    ASSERT_EQ(factory()->CreateInstance(nullptr, IID__RC2, first.out()), S_OK);
    EXPECT_EQ(can_unload_(), S_FALSE);
    ASSERT_EQ(factory()->CreateInstance(nullptr, IID_IDispatch, second.out()), S_OK);
    first.reset();
    EXPECT_EQ(can_unload_(), S_FALSE);
    second.reset();
    EXPECT_EQ(can_unload_(), S_OK);

    ASSERT_EQ(factory()->CreateInstance(nullptr, IID_IClassFactory, first.out()), E_NOINTERFACE);
    EXPECT_EQ(can_unload_(), S_OK) << "a refused creation leaves no object behind";

    // Locks alone.
    EXPECT_EQ(factory()->LockServer(TRUE), S_OK);
    EXPECT_EQ(can_unload_(), S_FALSE);
    EXPECT_EQ(factory()->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory()->LockServer(FALSE), S_OK);
    EXPECT_EQ(can_unload_(), S_FALSE);
    EXPECT_EQ(factory()->LockServer(FALSE), S_OK);
    EXPECT_EQ(can_unload_(), S_OK);
    EXPECT_EQ(factory()->LockServer(FALSE), S_OK);  // one unlock too many
    EXPECT_EQ(factory()->LockServer(TRUE), S_OK);
    EXPECT_EQ(can_unload_(), S_FALSE);
    EXPECT_EQ(factory()->LockServer(FALSE), S_OK);
    EXPECT_EQ(can_unload_(), S_OK);

    // One release too many does not cancel the next client's reference.
    {
        auto f = factory();
        f->Release();  // and once more when f goes
    }
    auto held = factory();
    EXPECT_EQ(can_unload_(), S_FALSE);
    held.reset();
    EXPECT_EQ(can_unload_(), S_OK);
}

// Objects of several apartments come and go at once; the module's counts
// must end where they started.
struct CountsWork {
    HRESULT (STDAPICALLTYPE* get_class)(REFCLSID, REFIID, void**) = nullptr;
    LONG failures = 0;
};

DWORD WINAPI CreateAndRelease(void* param) {
    auto* w = static_cast<CountsWork*>(param);
    Apartment apartment;
    {
        Ptr<IClassFactory> factory;
        if (w->get_class(CLSID_RC2, IID_IClassFactory, factory.out()) != S_OK) InterlockedIncrement(&w->failures);
        for (int i = 0; i < 500 && factory.get(); ++i) {
            Ptr<_RC2> rc2;
            factory->LockServer(TRUE);
            if (factory->CreateInstance(nullptr, IID__RC2, rc2.out()) != S_OK) InterlockedIncrement(&w->failures);
            factory->LockServer(FALSE);
        }
    }
    return 0;
}

TEST_F(Exports, CountsHoldUnderConcurrentApartments) {
    CountsWork work;
    work.get_class = get_class_;
    HANDLE threads[4];
    for (HANDLE& t : threads) t = CreateThread(nullptr, 0, CreateAndRelease, &work, 0, nullptr);
    WaitForMultipleObjects(4, threads, TRUE, INFINITE);
    for (HANDLE t : threads) CloseHandle(t);
    EXPECT_EQ(work.failures, 0);
    EXPECT_EQ(can_unload_(), S_OK);
}

// Another apartment reaches the object through the automation marshaller that
// the type library registration sets up, by-reference arguments and error
// HRESULTs included.
struct ProxyWork {
    IStream* stream = nullptr;
    HRESULT unmarshal = E_FAIL, encrypt = E_FAIL, failing = S_OK;
    std::wstring filled, hex;
};

DWORD WINAPI CallThroughProxy(void* param) {
    auto* w = static_cast<ProxyWork*>(param);
    Apartment apartment;
    {
        Ptr<_RC2> proxy;
        w->unmarshal = CoGetInterfaceAndReleaseStream(w->stream, IID__RC2, proxy.out());
        if (SUCCEEDED(w->unmarshal)) {
            Bstr key(L"Morvik"), text(L"Attack at dawn"), out, hex;
            proxy->put_Key(key.inout());
            w->encrypt = proxy->Encrypt(text.inout(), out.out());
            w->filled = text.text();
            proxy->get_ResultHex(hex.out());
            w->hex = hex.text();
            Bstr bad(L"abc");
            w->failing = proxy->Decrypt(bad.inout(), out.out());
        }
    }
    return 0;
}

TEST(Client, OtherApartmentsCallThroughTheMarshaller) {
    auto rc2 = CreateRC2();
    ProxyWork work;
    ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID__RC2, rc2.get(), &work.stream), S_OK);
    HANDLE t = CreateThread(nullptr, 0, CallThroughProxy, &work, 0, nullptr);
    ASSERT_NE(t, nullptr);
    // This apartment has to pump messages while the other one calls into it.
    while (MsgWaitForMultipleObjects(1, &t, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    CloseHandle(t);
    ASSERT_EQ(work.unmarshal, S_OK);
    EXPECT_EQ(work.encrypt, S_OK);
    EXPECT_EQ(work.filled, L"Attack at dawn" + Zeros(2));
    EXPECT_EQ(work.hex, L"CF6CFDE2AAAA3EDEB17CAE40204F96B3");
    // Wine's channel does not carry the error information between apartments
    // (Windows does); the HRESULT is what every client gets.
    EXPECT_EQ(work.failing, kInvalidArgument);
    EXPECT_EQ(Get(rc2.get(), &_RC2::get_Key), L"Morvik") << "the calls reached this apartment's object";
}

// ---- Late binding ---------------------------------------------------------------------

DISPID IdOf(IDispatch* d, const wchar_t* name, HRESULT expect = S_OK) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = 0;
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), expect) << name;
    return id;
}

TEST(LateBound, NamesInAnyCaseMapToTheTableIds) {
    auto d = CreateDispatch();
    const std::pair<const wchar_t*, DISPID> names[] = {
        {L"EffectiveKeyLength", DISPID_RC2_EffectiveKeyLength}, {L"effectivekeylength", DISPID_RC2_EffectiveKeyLength}, {L"KEYHEX", DISPID_RC2_KeyHex},
        {L"key", DISPID_RC2_Key}, {L"ENCRYPT", DISPID_RC2_Encrypt}, {L"dEcRyPt", DISPID_RC2_Decrypt}, {L"encryptHEX", DISPID_RC2_EncryptHex},
        {L"DecryptHex", DISPID_RC2_DecryptHex}, {L"decryptasc", DISPID_RC2_DecryptAsc}, {L"Result", DISPID_RC2_Result},
        {L"resulthex", DISPID_RC2_ResultHex}, {L"RESULTASC", DISPID_RC2_ResultAsc}, {L"eNcRyPtAsC", DISPID_RC2_EncryptAsc},
    };
    for (const auto& [name, id] : names) EXPECT_EQ(IdOf(d.get(), name), id) << name;
    for (const wchar_t* unknown : {L"Encrypts", L"", L"Full2Asc", L"PiLookup", L"Key "})
        EXPECT_EQ(IdOf(d.get(), unknown, DISP_E_UNKNOWNNAME), DISPID_UNKNOWN);

    LPOLESTR with_param[] = {const_cast<LPOLESTR>(L"encrypt"), const_cast<LPOLESTR>(L"STEXT")};
    DISPID ids[2] = {};
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, with_param, 2, 0, ids), S_OK);
    EXPECT_EQ(ids[0], DISPID_RC2_Encrypt);
    EXPECT_EQ(ids[1], 0);

    UINT count = 0;
    EXPECT_EQ(d->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    Ptr<ITypeInfo> info;
    ASSERT_EQ(d->GetTypeInfo(0, 0x0409, info.addr()), S_OK);
    TYPEATTR* ta = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&ta), S_OK);
    EXPECT_TRUE(IsEqualGUID(ta->guid, IID__RC2));
    info->ReleaseTypeAttr(ta);
    EXPECT_EQ(d->GetTypeInfo(1, 0, info.addr()), DISP_E_BADINDEX);
}

TEST(LateBound, EncryptSeesTheCallersVariableOnlyByReference) {
    auto d = CreateDispatch();
    const std::wstring filled = L"abc" + Zeros(5);
    const auto encrypt = [&](VARIANT* arg) { return Invoke(d.get(), DISPID_RC2_Encrypt, DISPATCH_METHOD, {arg}); };
    const std::wstring cipher = [&] {
        Variant v;
        V_VT(&v.v) = VT_BSTR;
        V_BSTR(&v.v) = SysAllocString(L"abc");
        return encrypt(&v.v).text;
    }();
    ASSERT_EQ(cipher.size(), 8u);

    {  // by value (JScript; VBScript with parentheses): the caller's value stays
        Variant v;
        V_VT(&v.v) = VT_BSTR;
        V_BSTR(&v.v) = SysAllocString(L"abc");
        EXPECT_EQ(encrypt(&v.v).text, cipher);
        EXPECT_EQ(std::wstring(V_BSTR(&v.v), SysStringLen(V_BSTR(&v.v))), L"abc");
    }
    {  // VT_BYREF|VT_BSTR
        Bstr own(L"abc");
        VARIANT ref;
        V_VT(&ref) = VT_BYREF | VT_BSTR;
        V_BSTRREF(&ref) = own.inout();
        EXPECT_EQ(encrypt(&ref).text, cipher);
        EXPECT_EQ(own.text(), filled);
    }
    {  // VT_BYREF|VT_VARIANT holding a string: how VBScript passes a variable
        Variant var;
        V_VT(&var.v) = VT_BSTR;
        V_BSTR(&var.v) = SysAllocString(L"abc");
        VARIANT ref;
        V_VT(&ref) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&ref) = &var.v;
        EXPECT_EQ(Invoke(d.get(), DISPID_RC2_EncryptAsc, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {&ref}).text.size(), 13u);
        ASSERT_EQ(V_VT(&var.v), VT_BSTR);
        EXPECT_EQ(std::wstring(V_BSTR(&var.v), SysStringLen(V_BSTR(&var.v))), filled);
    }
    {  // a variable holding a number becomes the filled text
        Variant var;
        V_VT(&var.v) = VT_I4;
        V_I4(&var.v) = 123;
        VARIANT ref;
        V_VT(&ref) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&ref) = &var.v;
        EXPECT_EQ(encrypt(&ref).hr, S_OK);
        ASSERT_EQ(V_VT(&var.v), VT_BSTR);
        EXPECT_EQ(std::wstring(V_BSTR(&var.v), SysStringLen(V_BSTR(&var.v))), L"123" + Zeros(5));
    }
    {  // Decrypt by reference leaves the variable alone
        Variant var;
        V_VT(&var.v) = VT_BSTR;
        V_BSTR(&var.v) = SysAllocStringLen(cipher.data(), 8);
        const BSTR before = V_BSTR(&var.v);
        VARIANT ref;
        V_VT(&ref) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&ref) = &var.v;
        EXPECT_EQ(Invoke(d.get(), DISPID_RC2_Decrypt, DISPATCH_METHOD, {&ref}).text, L"abc");
        EXPECT_EQ(V_BSTR(&var.v), before);
    }
}

TEST(LateBound, PropertyPutStoresLikeTheVtableAndNeverWritesBack) {
    auto d = CreateDispatch();
    Ptr<_RC2> rc2;
    ASSERT_EQ(d->QueryInterface(IID__RC2, rc2.out()), S_OK);
    const auto put = [&](DISPID id, VARIANT* v) { return Invoke(d.get(), id, DISPATCH_PROPERTYPUT, {v}, true).hr; };
    LONG bits = 0;

    Variant v;
    V_VT(&v.v) = VT_I4;
    V_I4(&v.v) = 64;
    EXPECT_EQ(put(DISPID_RC2_EffectiveKeyLength, &v.v), S_OK);
    EXPECT_EQ(rc2->get_EffectiveKeyLength(&bits), S_OK);
    EXPECT_EQ(bits, 64);

    Variant text;
    V_VT(&text.v) = VT_BSTR;
    V_BSTR(&text.v) = SysAllocString(L"100");
    EXPECT_EQ(put(DISPID_RC2_EffectiveKeyLength, &text.v), S_OK) << "standard coercion from a string";
    EXPECT_EQ(rc2->get_EffectiveKeyLength(&bits), S_OK);
    EXPECT_EQ(bits, 100);

    Variant key;
    V_VT(&key.v) = VT_BSTR;
    V_BSTR(&key.v) = SysAllocString(L"abc");
    const BSTR before = V_BSTR(&key.v);
    VARIANT ref;
    V_VT(&ref) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&ref) = &key.v;
    EXPECT_EQ(put(DISPID_RC2_Key, &ref), S_OK);
    EXPECT_EQ(put(DISPID_RC2_KeyHex, &ref), S_OK);  // KeyHex "abc": bytes AB 0C
    EXPECT_EQ(V_BSTR(&key.v), before);
    EXPECT_EQ(std::wstring(V_BSTR(&key.v)), L"abc");
    EXPECT_EQ(Get(rc2.get(), &_RC2::get_KeyHex), L"AB0C");

    EXPECT_EQ(Invoke(d.get(), DISPID_RC2_EffectiveKeyLength, DISPATCH_PROPERTYGET, {}).number, 100);
    EXPECT_EQ(Invoke(d.get(), DISPID_RC2_KeyHex, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {}).text, L"AB0C");
}

TEST(LateBound, CallsThatCannotBeMadeGetTheStandardCodes) {
    auto d = CreateDispatch();
    Variant s;
    V_VT(&s.v) = VT_BSTR;
    V_BSTR(&s.v) = SysAllocString(L"abc");
    Variant unknown;
    V_VT(&unknown.v) = VT_UNKNOWN;
    V_UNKNOWN(&unknown.v) = nullptr;
    Variant big;
    V_VT(&big.v) = VT_R8;
    V_R8(&big.v) = 1e12;

    EXPECT_EQ(Invoke(d.get(), 0x12345, DISPATCH_METHOD, {&s.v}).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Invoke(d.get(), DISPID_RC2_Encrypt, DISPATCH_METHOD, {}).hr, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Invoke(d.get(), DISPID_RC2_Encrypt, DISPATCH_METHOD, {&s.v, &s.v}).hr, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Invoke(d.get(), DISPID_RC2_Result, DISPATCH_PROPERTYGET, {&s.v}).hr, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Invoke(d.get(), DISPID_RC2_Encrypt, DISPATCH_METHOD, {&unknown.v}).hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Invoke(d.get(), DISPID_RC2_EffectiveKeyLength, DISPATCH_PROPERTYPUT, {&big.v}, true).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(Invoke(d.get(), DISPID_RC2_Result, DISPATCH_PROPERTYPUT, {&s.v}, true).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Invoke(d.get(), DISPID_RC2_Key, DISPATCH_PROPERTYPUT, {&s.v}, false).hr, DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(Invoke(d.get(), DISPID_RC2_Encrypt, DISPATCH_PROPERTYGET, {&s.v}).hr, DISP_E_MEMBERNOTFOUND);
    DISPPARAMS broken{nullptr, nullptr, 1, 0};
    EXPECT_EQ(d->Invoke(DISPID_RC2_Encrypt, IID_NULL, 0, DISPATCH_METHOD, &broken, nullptr, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(d->Invoke(DISPID_RC2_Encrypt, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr), E_INVALIDARG);
}

TEST(LateBound, FailingMemberGivesExceptionInformation) {
    auto d = CreateDispatch();
    struct Row {
        DISPID id;
        WORD flags;
        const wchar_t* arg;
        SCODE scode;
        const wchar_t* description;
    };
    const Row rows[] = {
        {DISPID_RC2_Decrypt, DISPATCH_METHOD, L"abc", kInvalidArgument, L"Invalid procedure call or argument"},
        {DISPID_RC2_DecryptAsc, DISPATCH_METHOD, L"md9J", kOverflow, L"Overflow"},
        {DISPID_RC2_Encrypt, DISPATCH_METHOD, L"\x03A9", kOverflow, L"Overflow"},
        {DISPID_RC2_Key, DISPATCH_PROPERTYPUT, L"\x03A9", kOverflow, L"Overflow"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arg);
        Variant v;
        V_VT(&v.v) = VT_BSTR;
        V_BSTR(&v.v) = SysAllocString(row.arg);
        const InvokeResult r = Invoke(d.get(), row.id, row.flags, {&v.v}, row.flags == DISPATCH_PROPERTYPUT);
        EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
        EXPECT_EQ(r.scode, row.scode);
        EXPECT_EQ(r.text, row.description);
        EXPECT_EQ(r.source, L"Morvik.RC2");
    }
}

}  // namespace
