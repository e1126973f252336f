// The server under load, in a process of its own so that the module's counts
// start from nothing: thousands of objects created, used and released; two
// apartments calling at the same time; the process's memory over 100,000
// calls. Every object goes through the same round of calls, checked against
// answers that one reference object gives on the main thread.
#include <initguid.h>
#include <windows.h>
#include <ole2.h>
#include <activscp.h>
#include <cguid.h>
#include <psapi.h>

#include "morvik.h"
#include "morvik_iids.h"
#include "com_test.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using namespace morvik::test;

const auto* const kApartment = ::testing::AddGlobalTestEnvironment(new ComApartment);

// The module that COM loads for the class, and its DllCanUnloadNow.
class Module {
public:
    Module() : handle_(LoadLibraryW(morvik::test::RegisteredModulePath().c_str())) {
        if (handle_)
            can_unload_ = reinterpret_cast<decltype(can_unload_)>(
                reinterpret_cast<void*>(GetProcAddress(handle_, "DllCanUnloadNow")));
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    ~Module() { if (handle_) FreeLibrary(handle_); }
    bool loaded() const { return can_unload_ != nullptr; }
    HRESULT CanUnloadNow() const { return can_unload_(); }

private:
    HMODULE handle_;
    HRESULT (STDAPICALLTYPE* can_unload_)() = nullptr;
};

// ---- One round of calls ---------------------------------------------------------

struct Case {
    LONG bits;
    std::wstring key;  // through KeyHex when by_hex, else through Key
    bool by_hex;
    std::wstring text;  // ASCII, so its hex form is simple to write here
};

const std::wstring kOmega = L"\x03A9";  // no byte in code page 1252

const Case kCases[] = {
    {0, L"Morvik", false, L"Attack at dawn"},
    {40, L"K\x00E9y\x20AC", false, L"abc"},  // "Kéy€": bytes above 127
    {64, L"88bca90e90875a7f0f79c384627bafb2", true, L"abcdefgh"},
    {1024, std::wstring(128, L'k'), false, std::wstring(100, L'x') + std::wstring(L"a\0b", 3) + L"tail"},
    {129, L"00", true, L"0"},
};

std::wstring HexOf(const std::wstring& ascii) {
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring hex;
    for (wchar_t c : ascii) {
        hex += digits[(c >> 4) & 15];
        hex += digits[c & 15];
    }
    return hex;
}

std::wstring Filled(const std::wstring& text) { return text + std::wstring((8 - text.size() % 8) % 8, L'\0'); }

// What a reference object answers for a case; the rounds must see the same.
struct Answers {
    std::wstring key, key_hex, cipher, hex, asc;
};

// Mismatches from any thread. GoogleTest's assertions are not thread-safe in
// this build, so workers count here and the test reports on the main thread.
struct Tally {
    LONG failures = 0;
    std::string first;
    void Check(bool ok, const char* what) {
        if (ok) return;
        if (InterlockedIncrement(&failures) == 1) first = what;
    }
};

// Every member of the object once, the failing calls and the write-back of
// by-reference arguments included, each through the vtable; then late-bound
// as a script engine calls. Returns the number of calls to the object.
int Round(_RC2* rc2, const Case& c, const Answers& a, Tally& tally) {
    int calls = 0;

    LONG bits = c.bits;
    tally.Check(rc2->put_EffectiveKeyLength(&bits) == S_OK, "put_EffectiveKeyLength");
    bits = -1;
    tally.Check(rc2->get_EffectiveKeyLength(&bits) == S_OK && bits == c.bits, "get_EffectiveKeyLength");
    Bstr key(c.key);
    tally.Check((c.by_hex ? rc2->put_KeyHex(key.inout()) : rc2->put_Key(key.inout())) == S_OK, "put key");
    Bstr got_key, got_key_hex;
    tally.Check(rc2->get_Key(got_key.out()) == S_OK && got_key.text() == a.key, "get_Key");
    tally.Check(rc2->get_KeyHex(got_key_hex.out()) == S_OK && got_key_hex.text() == a.key_hex, "get_KeyHex");
    calls += 5;

    Bstr text(c.text), cipher;
    tally.Check(rc2->Encrypt(text.inout(), cipher.out()) == S_OK && cipher.text() == a.cipher, "Encrypt");
    tally.Check(text.text() == Filled(c.text), "Encrypt writes the filling back");
    Bstr result, result_hex, result_asc;
    tally.Check(rc2->get_Result(result.out()) == S_OK && result.text() == a.cipher, "get_Result");
    tally.Check(rc2->get_ResultHex(result_hex.out()) == S_OK && result_hex.text() == a.hex, "get_ResultHex");
    tally.Check(rc2->get_ResultAsc(result_asc.out()) == S_OK && result_asc.text() == a.asc, "get_ResultAsc");
    calls += 4;

    Bstr again(a.cipher), plain;
    tally.Check(rc2->Decrypt(again.inout(), plain.out()) == S_OK && plain.text() == c.text, "Decrypt");
    Bstr text_hex(HexOf(c.text)), cipher2;
    tally.Check(rc2->EncryptHex(text_hex.inout(), cipher2.out()) == S_OK && cipher2.text() == a.cipher,
                "EncryptHex");
    Bstr hex(a.hex), plain2;
    tally.Check(rc2->DecryptHex(hex.inout(), plain2.out()) == S_OK && plain2.text() == c.text, "DecryptHex");
    Bstr text2(c.text), asc;
    tally.Check(rc2->EncryptAsc(text2.inout(), asc.out()) == S_OK && asc.text() == a.asc, "EncryptAsc");
    tally.Check(text2.text() == Filled(c.text), "EncryptAsc writes the filling back");
    Bstr asc2(a.asc), plain3;
    tally.Check(rc2->DecryptAsc(asc2.inout(), plain3.out()) == S_OK && plain3.text() == c.text, "DecryptAsc");
    calls += 5;

    // Failing calls: the error and its text on this thread, nothing changed.
    Bstr short_cipher(L"abc"), none;
    tally.Check(rc2->Decrypt(short_cipher.inout(), none.out()) == kInvalidArgument && !none.get(),
                "Decrypt of a short ciphertext fails with 5");
    tally.Check(LastError().first == L"Invalid procedure call or argument", "error 5 text");
    Bstr bad_asc(L"md9J");
    tally.Check(rc2->DecryptAsc(bad_asc.inout(), none.out()) == kOverflow && !none.get(),
                "DecryptAsc of a bad tail fails with 6");
    tally.Check(LastError().first == L"Overflow", "error 6 text");
    Bstr bad_key(kOmega);
    tally.Check(rc2->put_Key(bad_key.inout()) == kOverflow, "an unmappable key fails with 6");
    tally.Check(rc2->get_Key(got_key.out()) == S_OK && got_key.text() == a.key, "a failing key changes nothing");
    tally.Check(rc2->get_Result(result.out()) == S_OK && result.text() == c.text, "failures leave Result");
    calls += 5;

    // Late-bound, as a script calls: the name and the type information,
    // Encrypt on the caller's variable, and a failure handed back as
    // exception information.
    Ptr<IDispatch> dispatch;
    tally.Check(rc2->QueryInterface(IID_IDispatch, dispatch.out()) == S_OK, "QueryInterface IDispatch");
    if (!dispatch.get()) return calls;
    LPOLESTR name = const_cast<LPOLESTR>(L"encrypt");
    DISPID id = DISPID_UNKNOWN;
    tally.Check(dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id) == S_OK && id == DISPID_RC2_Encrypt, "GetIDsOfNames");
    Ptr<ITypeInfo> info;
    tally.Check(dispatch->GetTypeInfo(0, 0, info.addr()) == S_OK && info.get(), "GetTypeInfo");
    calls += 2;
    Variant variable, odd;
    V_VT(&variable.v) = VT_BSTR;
    V_BSTR(&variable.v) = SysAllocStringLen(c.text.data(), static_cast<UINT>(c.text.size()));
    VARIANTARG ref;
    V_VT(&ref) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&ref) = &variable.v;
    const InvokeResult encrypted = Invoke(dispatch.get(), id, DISPATCH_METHOD, {&ref});
    tally.Check(encrypted.hr == S_OK && encrypted.text == a.cipher, "Invoke Encrypt");
    tally.Check(V_VT(&variable.v) == VT_BSTR &&
                    std::wstring(V_BSTR(&variable.v), SysStringLen(V_BSTR(&variable.v))) == Filled(c.text),
                "Invoke Encrypt writes the filling into the variable");

    V_VT(&odd.v) = VT_BSTR;
    V_BSTR(&odd.v) = SysAllocString(L"0102030405");
    const InvokeResult failed = Invoke(dispatch.get(), DISPID_RC2_DecryptHex, DISPATCH_METHOD, {&odd.v});
    tally.Check(failed.hr == DISP_E_EXCEPTION && failed.scode == kInvalidArgument,
                "Invoke DecryptHex of a partial block fails with 5");
    calls += 2;
    return calls;
}

// The answers of one fresh object for every case, each call checked.
std::vector<Answers> Reference() {
    std::vector<Answers> answers;
    for (const Case& c : kCases) {
        auto rc2 = CreateRC2();
        if (!rc2.get()) return {};
        Answers a;
        LONG bits = c.bits;
        Bstr key(c.key), text(c.text), cipher, out;
        EXPECT_EQ(rc2->put_EffectiveKeyLength(&bits), S_OK);
        EXPECT_EQ(c.by_hex ? rc2->put_KeyHex(key.inout()) : rc2->put_Key(key.inout()), S_OK);
        EXPECT_EQ(rc2->get_Key(out.out()), S_OK);
        a.key = out.text();
        EXPECT_EQ(rc2->get_KeyHex(out.out()), S_OK);
        a.key_hex = out.text();
        EXPECT_EQ(rc2->Encrypt(text.inout(), cipher.out()), S_OK);
        a.cipher = cipher.text();
        EXPECT_EQ(rc2->get_ResultHex(out.out()), S_OK);
        a.hex = out.text();
        EXPECT_EQ(rc2->get_ResultAsc(out.out()), S_OK);
        a.asc = out.text();
        answers.push_back(a);
    }
    return answers;
}

class Lifetime : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(module_.loaded());
        answers_ = Reference();
        ASSERT_EQ(answers_.size(), std::size(kCases));
        // The reference itself meets a known answer (OpenSSL's RC2).
        ASSERT_EQ(answers_[0].hex, L"CF6CFDE2AAAA3EDEB17CAE40204F96B3");
        ASSERT_EQ(answers_[0].asc, L"LiLvPId8elVXsrS87o7M002L1");
        ASSERT_EQ(module_.CanUnloadNow(), S_OK) << "the reference objects are gone";
    }

    Module module_;
    std::vector<Answers> answers_;
};

// ---- Many objects ------------------------------------------------------------------

TEST_F(Lifetime, ThousandsOfObjectsUsedAndReleased) {
    Tally tally;
    for (int i = 0; i < 3000; ++i) {
        const std::size_t k = static_cast<std::size_t>(i) % std::size(kCases);
        // Reached by either interface, with extra references let go in
        // either order.
        Ptr<_RC2> rc2;
        Ptr<IUnknown> other;
        if (i % 2 == 0) {
            tally.Check(CoCreateInstance(CLSID_RC2, nullptr, CLSCTX_INPROC_SERVER, IID__RC2, rc2.out()) == S_OK,
                        "create as _RC2");
            if (rc2.get()) rc2->QueryInterface(IID_ISupportErrorInfo, other.out());
        } else {
            tally.Check(CoCreateInstance(CLSID_RC2, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, other.out()) == S_OK,
                        "create as IDispatch");
            if (other.get()) other->QueryInterface(IID__RC2, rc2.out());
        }
        if (!rc2.get() || !other.get()) {
            tally.Check(false, "an object without both interfaces");
            break;
        }
        Round(rc2.get(), kCases[k], answers_[k], tally);
        if (i % 3 == 0) other.reset();
        tally.Check(module_.CanUnloadNow() == S_FALSE, "a live object holds the module");
    }
    EXPECT_EQ(tally.failures, 0) << tally.first;
    EXPECT_EQ(module_.CanUnloadNow(), S_OK);
}

TEST_F(Lifetime, ThousandsOfLiveObjectsKeepTheirOwnState) {
    std::vector<Ptr<_RC2>> objects;
    for (int i = 0; i < 2000; ++i) {
        objects.push_back(CreateRC2());
        ASSERT_NE(objects.back().get(), nullptr);
        Bstr key(L"key " + std::to_wstring(i));
        ASSERT_EQ(objects.back()->put_Key(key.inout()), S_OK);
    }
    for (std::size_t i = 0; i < objects.size(); ++i) {
        Bstr key;
        ASSERT_EQ(objects[i]->get_Key(key.out()), S_OK);
        ASSERT_EQ(key.text(), L"key " + std::to_wstring(i));
    }
    // Released out of creation order; the module is free only after the last.
    for (std::size_t i = 0; i < objects.size(); i += 2) objects[i].reset();
    for (std::size_t i = objects.size() - 1; i > 1; i -= 2) {
        objects[i].reset();
        ASSERT_EQ(module_.CanUnloadNow(), S_FALSE) << "after releasing object " << i;
    }
    objects[1].reset();
    EXPECT_EQ(module_.CanUnloadNow(), S_OK);
}

// A client may keep the class object to make objects quickly. The module
// must stay while it does, even when the apartment frees unused libraries;
// this test holds no handle of its own that would keep it.
TEST(ClassObject, HeldClassObjectKeepsTheModule) {
    const std::wstring path = morvik::test::RegisteredModulePath();
    const std::vector<Answers> answers = Reference();
    ASSERT_FALSE(answers.empty());
    IClassFactory* held = nullptr;
    ASSERT_EQ(CoGetClassObject(CLSID_RC2, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&held)),
              S_OK);
    CoFreeUnusedLibraries();
    // Were the module gone, the pointer would lead nowhere, Release included.
    ASSERT_NE(GetModuleHandleW(path.c_str()), nullptr) << "the module went while its class object was held";
    Ptr<IClassFactory> factory(held);
    Tally tally;
    for (int i = 0; i < 100; ++i) {
        Ptr<_RC2> rc2;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID__RC2, rc2.out()), S_OK);
        Round(rc2.get(), kCases[0], answers[0], tally);
    }
    EXPECT_EQ(tally.failures, 0) << tally.first;
}

// ---- Two apartments at once -----------------------------------------------------------

struct ApartmentWork {
    const std::vector<Answers>* answers = nullptr;
    HANDLE start = nullptr;  // both threads begin together
    HRESULT initialized = E_FAIL;
    int calls = 0;
    LONGLONG began = 0, ended = 0;
    Tally tally;
};

DWORD WINAPI CallFromOwnApartment(void* param) {
    auto* w = static_cast<ApartmentWork*>(param);
    Apartment apartment;
    w->initialized = apartment.hr();
    if (FAILED(w->initialized)) return 1;
    WaitForSingleObject(w->start, INFINITE);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    w->began = t.QuadPart;
    for (int object = 0; object < 100; ++object) {
        Ptr<_RC2> rc2;
        w->tally.Check(CoCreateInstance(CLSID_RC2, nullptr, CLSCTX_INPROC_SERVER, IID__RC2, rc2.out()) == S_OK,
                       "create in the apartment");
        if (!rc2.get()) break;
        for (int round = 0; round < 40; ++round)
            for (std::size_t k = 0; k < std::size(kCases); ++k)
                w->calls += Round(rc2.get(), kCases[k], (*w->answers)[k], w->tally);
    }
    QueryPerformanceCounter(&t);
    w->ended = t.QuadPart;
    return 0;
}

TEST_F(Lifetime, TwoApartmentsCallAtTheSameTime) {
    HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(start, nullptr);
    ApartmentWork work[2];
    HANDLE threads[2];
    for (int i = 0; i < 2; ++i) {
        work[i].answers = &answers_;
        work[i].start = start;
        threads[i] = CreateThread(nullptr, 0, CallFromOwnApartment, &work[i], 0, nullptr);
        ASSERT_NE(threads[i], nullptr);
    }
    SetEvent(start);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (HANDLE t : threads) CloseHandle(t);
    CloseHandle(start);

    for (const ApartmentWork& w : work) {
        EXPECT_EQ(w.initialized, S_OK) << "each thread has a single-threaded apartment of its own";
        EXPECT_EQ(w.tally.failures, 0) << w.tally.first;
        EXPECT_GE(w.calls, 100 * 40 * 5 * 20);
    }
    // Otherwise the two ran one after the other and proved nothing.
    EXPECT_TRUE(work[0].began < work[1].ended && work[1].began < work[0].ended) << "the threads did not overlap";
    EXPECT_EQ(module_.CanUnloadNow(), S_OK);
}

// ---- Memory over many calls -------------------------------------------------------------

// Bytes in live blocks on every heap of the process: the server's C++ heap,
// the system's strings and the error objects all come from these.
std::int64_t HeapBytesInUse() {
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
    const DWORD n = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
    std::int64_t total = 0;
    for (DWORD i = 0; i < n && i < heaps.size(); ++i) {
        if (!HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += static_cast<std::int64_t>(entry.cbData);
        HeapUnlock(heaps[i]);
    }
    return total;
}

// The process's commit charge. Wine reports PrivateUsage as 0 but keeps
// PagefileUsage, which on Windows is the same figure.
std::int64_t CommittedBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return -1;
    return static_cast<std::int64_t>(counters.PagefileUsage);
}

TEST_F(Lifetime, NoGrowthOverOneHundredThousandCalls) {
    Tally tally;
    std::vector<Ptr<_RC2>> objects;
    for (int i = 0; i < 4; ++i) objects.push_back(CreateRC2());
    for (const auto& o : objects) ASSERT_NE(o.get(), nullptr);
    int calls = 0;
    auto run = [&](int until) {
        for (std::size_t i = 0; calls < until; ++i) {
            Ptr<_RC2>& object = objects[i % objects.size()];
            // Now and then a new object takes the place of one, so that
            // creation and release are measured too.
            if (i % 25 == 24)
                tally.Check(CoCreateInstance(CLSID_RC2, nullptr, CLSCTX_INPROC_SERVER, IID__RC2, object.out()) == S_OK,
                            "create a new object");
            if (!object.get()) return;
            const std::size_t k = i % std::size(kCases);
            calls += Round(object.get(), kCases[k], answers_[k], tally);
        }
    };
    // The warm-up fills what is meant to stay: the system's string cache,
    // the type information, the heaps' free lists.
    run(10000);
    const std::int64_t heap_before = HeapBytesInUse(), committed_before = CommittedBytes();
    calls = 0;
    run(100000);
    const std::int64_t heap_growth = HeapBytesInUse() - heap_before;
    const std::int64_t committed_growth = CommittedBytes() - committed_before;
    EXPECT_EQ(tally.failures, 0) << tally.first;
    ASSERT_GE(committed_before, 0);

    // The smallest block a leak can lose is a string of a few characters,
    // 32 bytes or more with its header: one lost per call would add 3 MiB
    // or more, and one per round (23 calls) still about 140 KiB. The heaps
    // are counted to the byte, so 64 KiB leaves room only for a cache that
    // settles late. The commit charge moves in pages and in the heaps' own
    // steps of growth, so it gets 1 MiB: it catches a loss on every call
    // even where nothing else is counted (memory outside the heaps).
    EXPECT_LT(heap_growth, 64 * 1024) << "bytes in use on the heaps grew over " << calls << " calls";
    EXPECT_LT(committed_growth, 1024 * 1024) << "the commit charge grew over " << calls << " calls";
    std::printf("over %d calls: heaps %+lld bytes, commit charge %+lld bytes\n", calls,
                static_cast<long long>(heap_growth), static_cast<long long>(committed_growth));

    objects.clear();
    EXPECT_EQ(module_.CanUnloadNow(), S_OK);
}

// ---- Objects of a script ------------------------------------------------------------------

// A script cannot ask the module for its count, so the VBScript lifetime
// script also runs here, in a script engine this process hosts: once the
// engine is closed, every object the script made must be gone.

// The one host object the script uses: WScript.Echo, which keeps its lines.
class EchoObject final : public IDispatch {
public:
    std::vector<std::wstring> lines;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ? this : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    // Owned by the test, which outlives the engine.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (count != 1 || lstrcmpiW(names[0], L"Echo") != 0) return DISP_E_UNKNOWNNAME;
        ids[0] = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                     UINT*) override {
        if (id != 1) return DISP_E_MEMBERNOTFOUND;
        std::wstring line;
        for (UINT i = params->cArgs; i-- > 0;) {  // the last argument comes first
            Variant text;
            if (FAILED(VariantChangeType(&text.v, &params->rgvarg[i], 0, VT_BSTR))) return DISP_E_TYPEMISMATCH;
            if (!line.empty()) line += L' ';
            line.append(V_BSTR(&text.v), SysStringLen(V_BSTR(&text.v)));
        }
        lines.push_back(line);
        if (result) VariantInit(result);
        return S_OK;
    }
};

class ScriptSite final : public IActiveScriptSite {
public:
    explicit ScriptSite(EchoObject& echo) : echo_(echo) {}
    std::wstring error;  // the first script error, with its line

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IActiveScriptSite) ? this : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetLCID(LCID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info) override {
        if (item) *item = nullptr;
        if (info) *info = nullptr;
        if (lstrcmpiW(name, L"WScript") != 0) return TYPE_E_ELEMENTNOTFOUND;
        if ((mask & SCRIPTINFO_IUNKNOWN) && item) *item = &echo_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnStateChange(SCRIPTSTATE) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnScriptError(IActiveScriptError* script_error) override {
        EXCEPINFO info{};
        DWORD context = 0;
        ULONG line = 0;
        LONG column = 0;
        script_error->GetExceptionInfo(&info);
        script_error->GetSourcePosition(&context, &line, &column);
        if (error.empty())
            error = L"line " + std::to_wstring(line + 1) + L": " +
                    (info.bstrDescription ? info.bstrDescription : L"error " + std::to_wstring(info.scode));
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEnterScript() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnLeaveScript() override { return S_OK; }

private:
    EchoObject& echo_;
};

std::wstring ReadScript(const char* path) {
    std::ifstream file(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    return std::wstring(bytes.begin(), bytes.end());  // the scripts are ASCII
}

// References to the class object that nobody holds an owner of: what its
// AddRef answers, less the two of this function and the module's own.
ULONG ClassObjectReferences(IClassFactory* factory) {
    const ULONG n = factory->AddRef();
    factory->Release();
    return n - 3;
}

TEST_F(Lifetime, ObjectsOfAScriptAreGoneWhenItsEngineCloses) {
    const std::wstring text = ReadScript(MORVIK_LIFETIME_SCRIPT);
    ASSERT_FALSE(text.empty()) << MORVIK_LIFETIME_SCRIPT;
    EchoObject echo;
    ScriptSite site(echo);
    {
        CLSID vbscript{};
        ASSERT_EQ(CLSIDFromProgID(L"VBScript", &vbscript), S_OK);
        Ptr<IActiveScript> engine;
        ASSERT_EQ(CoCreateInstance(vbscript, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveScript, engine.out()), S_OK);
        Ptr<IActiveScriptParse> parse;
        ASSERT_EQ(engine->QueryInterface(IID_IActiveScriptParse, parse.out()), S_OK);
        ASSERT_EQ(parse->InitNew(), S_OK);
        ASSERT_EQ(engine->SetScriptSite(&site), S_OK);
        ASSERT_EQ(engine->AddNamedItem(L"WScript", SCRIPTITEM_ISVISIBLE), S_OK);
        ASSERT_EQ(parse->ParseScriptText(text.c_str(), nullptr, nullptr, nullptr, 0, 0, 0, nullptr, nullptr), S_OK);
        EXPECT_EQ(engine->SetScriptState(SCRIPTSTATE_STARTED), S_OK);
        EXPECT_EQ(engine->Close(), S_OK);
    }
    EXPECT_EQ(site.error, L"");
    for (const std::wstring& line : echo.lines)
        EXPECT_NE(line.rfind(L"FAIL", 0), 0u) << std::string(line.begin(), line.end());
    ASSERT_GE(echo.lines.size(), 2u);
    EXPECT_EQ(echo.lines.back(), L"MORVIK SCRIPT END");
    const std::wstring count_line = echo.lines[echo.lines.size() - 2];
    const std::wstring prefix = L"objects created: ";
    ASSERT_EQ(count_line.rfind(prefix, 0), 0u);
    const ULONG created = std::stoul(count_line.substr(prefix.size()));
    EXPECT_GE(created, 4000u);

    // Wine's engine keeps one reference to the class object for every
    // CreateObject, even after Close; an engine that gives them back leaves
    // none. Either is the engine's own doing: take exactly those back, and
    // then every object must be gone.
    Ptr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_RC2, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.out()), S_OK);
    const ULONG left = ClassObjectReferences(factory.get());
    ASSERT_TRUE(left == 0 || left == created) << left << " references to the class object after " << created
                                              << " objects";
    for (ULONG i = 0; i < left; ++i) factory->Release();
    factory.reset();
    EXPECT_EQ(module_.CanUnloadNow(), S_OK);
}

}  // namespace
