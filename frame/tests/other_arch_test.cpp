// The 32-bit server checked from a 64-bit process: its type library, read as
// data from the i686 file, describes the same library as the 64-bit one slot
// by slot and DISPID by DISPID, and its resources carry the same identifiers
// and version. This runs on every machine that runs 64-bit Wine, including
// those whose kernel runs no 32-bit program, where nothing else of the i686
// build can run.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "com_test.h"

namespace {

using morvik::test::Apartment;
using morvik::test::Bstr;
using morvik::test::Ptr;

// The i686 build's DLL beside this build's own (both set by CMake).
const wchar_t* const kX86 = L"" MORVIK_X86_DLL;
const wchar_t* const kX64 = L"" MORVIK_X64_DLL;

std::string Narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

std::string Guid(const GUID& g) {
    wchar_t text[40] = {};
    StringFromGUID2(g, text, 40);
    return Narrow(text);
}

// A type as text: VT_PTR and VT_SAFEARRAY name what they point to, and a
// user-defined type is named by its name, not by its handle.
std::string Type(ITypeInfo* info, const TYPEDESC& t) {
    switch (t.vt) {
    case VT_PTR:
    case VT_SAFEARRAY:
        return std::to_string(t.vt) + "(" + Type(info, *t.lptdesc) + ")";
    case VT_USERDEFINED: {
        Ptr<ITypeInfo> ref;
        Bstr name;
        if (info->GetRefTypeInfo(t.hreftype, ref.addr()) != S_OK) return "user(?)";
        ref->GetDocumentation(MEMBERID_NIL, name.out(), nullptr, nullptr, nullptr);
        return "user(" + Narrow(name.text()) + ")";
    }
    default:
        return std::to_string(t.vt);
    }
}

// One type and its functions, appended to OUT.
void DescribeType(ITypeInfo* info, const std::string& what, std::vector<std::string>& out) {
    Bstr name, doc;
    TYPEATTR* ta = nullptr;
    EXPECT_EQ(info->GetTypeAttr(&ta), S_OK);
    if (!ta) return;
    info->GetDocumentation(MEMBERID_NIL, name.out(), doc.out(), nullptr, nullptr);
    // Wine gives a function's offset in the loading process's pointers,
    // whatever the library's syskind; the vtable's size it gives now in
    // one unit, now in the other (seen in a 64-bit process), so the
    // layout is compared through the functions' slots alone.
    const int ptr = sizeof(void*);
    out.push_back(what + Narrow(name.text()) + " " + Guid(ta->guid) + " kind " + std::to_string(ta->typekind) +
                  " flags " + std::to_string(ta->wTypeFlags) + " version " + std::to_string(ta->wMajorVerNum) +
                  "." + std::to_string(ta->wMinorVerNum) + " funcs " + std::to_string(ta->cFuncs) + " vars " +
                  std::to_string(ta->cVars) + " implements " + std::to_string(ta->cImplTypes) + " alias " +
                  (ta->typekind == TKIND_ALIAS ? Type(info, ta->tdescAlias) : "-") + " \"" +
                  Narrow(doc.text()) + "\"");
    for (UINT k = 0; k < ta->cImplTypes; ++k) {
        HREFTYPE ref = 0;
        Ptr<ITypeInfo> base;
        INT flags = 0;
        EXPECT_EQ(info->GetRefTypeOfImplType(k, &ref), S_OK);
        EXPECT_EQ(info->GetRefTypeInfo(ref, base.addr()), S_OK);
        info->GetImplTypeFlags(k, &flags);
        if (base.get()) base->GetDocumentation(MEMBERID_NIL, name.out(), nullptr, nullptr, nullptr);
        out.push_back("  implements " + Narrow(name.text()) + " flags " + std::to_string(flags));
    }
    for (UINT f = 0; f < ta->cFuncs; ++f) {
        FUNCDESC* fd = nullptr;
        EXPECT_EQ(info->GetFuncDesc(f, &fd), S_OK);
        if (!fd) continue;
        BSTR names[16] = {};
        UINT got = 0;
        info->GetNames(fd->memid, names, 16, &got);
        std::string line = "  func";
        for (UINT n = 0; n < got; ++n) {
            line += " " + Narrow(std::wstring(names[n], SysStringLen(names[n])));
            SysFreeString(names[n]);
        }
        char id[16];
        std::snprintf(id, sizeof id, "%08lX", static_cast<unsigned long>(fd->memid));
        line += " dispid " + std::string(id) + " invoke " + std::to_string(fd->invkind) + " kind " +
                std::to_string(fd->funckind) + " call " + std::to_string(fd->callconv) + " slot " +
                std::to_string(fd->oVft / ptr) + " flags " + std::to_string(fd->wFuncFlags) + " returns " +
                Type(info, fd->elemdescFunc.tdesc) + " optional " + std::to_string(fd->cParamsOpt);
        out.push_back(line);
        for (SHORT p = 0; p < fd->cParams; ++p) {
            const ELEMDESC& e = fd->lprgelemdescParam[p];
            out.push_back("    param " + Type(info, e.tdesc) + " flags " +
                          std::to_string(e.paramdesc.wParamFlags));
        }
        info->ReleaseFuncDesc(fd);
    }
    info->ReleaseTypeAttr(ta);
}

// One line for the library and for each type, function and parameter, with
// every value that must not depend on the architecture. Vtable offsets are
// given as slots.
std::vector<std::string> Describe(const wchar_t* path, SYSKIND* syskind) {
    std::vector<std::string> out;
    Ptr<ITypeLib> lib;
    const HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, lib.addr());
    EXPECT_EQ(hr, S_OK) << Narrow(path);
    if (hr != S_OK) return out;
    TLIBATTR* la = nullptr;
    EXPECT_EQ(lib->GetLibAttr(&la), S_OK);
    if (!la) return out;
    *syskind = la->syskind;
    Bstr name, doc;
    lib->GetDocumentation(-1, name.out(), doc.out(), nullptr, nullptr);
    out.push_back("library " + Narrow(name.text()) + " " + Guid(la->guid) + " " + std::to_string(la->wMajorVerNum) +
                  "." + std::to_string(la->wMinorVerNum) + " lcid " + std::to_string(la->lcid) + " flags " +
                  std::to_string(la->wLibFlags) + " \"" + Narrow(doc.text()) + "\"");
    lib->ReleaseTLibAttr(la);

    const UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        Ptr<ITypeInfo> info;
        EXPECT_EQ(lib->GetTypeInfo(i, info.addr()), S_OK);
        if (!info.get()) continue;
        DescribeType(info.get(), "type ", out);
        // A dual interface's vtable half is not in the library's list; it is
        // the half whose slots a 32-bit and a 64-bit caller must agree on.
        HREFTYPE half = 0;
        Ptr<ITypeInfo> vtable;
        if (info->GetRefTypeOfImplType(static_cast<UINT>(-1), &half) == S_OK &&
            info->GetRefTypeInfo(half, vtable.addr()) == S_OK)
            DescribeType(vtable.get(), "vtable half of ", out);
    }
    return out;
}

// Every test here needs the i686 build beside this one; scripts/test.sh
// builds both, and CI (MORVIK_REQUIRE_WINE) insists on it.
class OtherArchitecture : public ::testing::Test {
protected:
    void SetUp() override {
        if (GetFileAttributesW(kX86) != INVALID_FILE_ATTRIBUTES) return;
        if (std::getenv("MORVIK_REQUIRE_WINE")) FAIL() << "the mingw-x86 build's Morvik.dll is missing";
        GTEST_SKIP() << "build the mingw-x86 preset first: its Morvik.dll is missing";
    }
};

// The machine field of the file's PE header.
unsigned Machine(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    unsigned char head[4096] = {};
    DWORD read = 0;
    ReadFile(file, head, sizeof head, &read, nullptr);
    CloseHandle(file);
    LONG at = 0;
    std::memcpy(&at, head + 0x3C, sizeof at);
    if (read < 64 || at < 0 || static_cast<DWORD>(at) + 6 > read || std::memcmp(head + at, "PE\0\0", 4) != 0) return 0;
    return head[at + 4] | head[at + 5] << 8;
}

TEST_F(OtherArchitecture, EachFileIsOfItsArchitecture) {
    EXPECT_EQ(Machine(kX86), unsigned{IMAGE_FILE_MACHINE_I386});
    EXPECT_EQ(Machine(kX64), unsigned{IMAGE_FILE_MACHINE_AMD64});
}

TEST_F(OtherArchitecture, TypeLibraryReadAsDataMatchesSlotBySlot) {
    Apartment apartment;
    ASSERT_EQ(apartment.hr(), S_OK);
    SYSKIND x86 = SYS_MAC, x64 = SYS_MAC;
    const auto want = Describe(kX64, &x64);
    const auto got = Describe(kX86, &x86);
    EXPECT_EQ(x64, SYS_WIN64);
    EXPECT_EQ(x86, SYS_WIN32);
    // The description is not empty by accident: the dual interface and its
    // 15 members are in it.
    size_t members = 0;
    for (const auto& line : want)
        members += line.find(" dispid 6803") != std::string::npos || line.find(" dispid 6003") != std::string::npos;
    EXPECT_EQ(members, 15u * 2);  // the dispatch half and the vtable half
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i], want[i]) << "line " << i;
}

// The version resource and the module's own resources, as the 64-bit
// process reads them from the file.
std::vector<std::string> Resources(const wchar_t* path) {
    std::vector<std::string> out;
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &handle);
    EXPECT_GT(size, 0u) << Narrow(path);
    std::vector<unsigned char> info(size ? size : 1);
    EXPECT_TRUE(GetFileVersionInfoW(path, 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    if (VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &len) && fixed) {
        out.push_back("file " + std::to_string(fixed->dwFileVersionMS) + "." + std::to_string(fixed->dwFileVersionLS) +
                      " product " + std::to_string(fixed->dwProductVersionMS) + "." +
                      std::to_string(fixed->dwProductVersionLS) + " os " + std::to_string(fixed->dwFileOS) +
                      " type " + std::to_string(fixed->dwFileType) + " flags " + std::to_string(fixed->dwFileFlags));
    }
    for (const wchar_t* key : {L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName", L"LegalCopyright",
                               L"OriginalFilename", L"ProductName", L"ProductVersion", L"OLESelfRegister"}) {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\000004B0\\") + key;
        wchar_t* text = nullptr;
        const bool has = VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&text), &len);
        out.push_back(Narrow(key) + (has && text ? " = \"" + Narrow(text) + "\"" : " missing"));
    }
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_NE(module, nullptr) << Narrow(path);
    if (module) {
        HRSRC list = FindResourceW(module, MAKEINTRESOURCEW(1), L"_IID_RC2");
        std::string bytes = "_IID_RC2";
        if (list) {
            const auto* p = static_cast<const unsigned char*>(LockResource(LoadResource(module, list)));
            for (DWORD i = 0; p && i < SizeofResource(module, list); ++i) bytes += " " + std::to_string(p[i]);
        } else {
            bytes += " missing";
        }
        out.push_back(bytes);
        FreeLibrary(module);
    }
    return out;
}

TEST_F(OtherArchitecture, ResourcesAndVersionMatch) {
    const auto want = Resources(kX64);
    const auto got = Resources(kX86);
    ASSERT_FALSE(want.empty());
    EXPECT_EQ(want.front().rfind("file ", 0), 0u) << "no fixed version information in the 64-bit DLL";
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i], want[i]);
}

}  // namespace
