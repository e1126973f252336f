// Late-bound callers that build arguments nobody should: null and dangling
// references, types that do not exist, references to references, arrays,
// records, interfaces, left-out and named arguments. Every call must end in a
// standard HRESULT, with puArgErr naming the argument, never touch memory it
// has no reason to (the pointers of types it must refuse point at an unmapped
// page), change nothing in the object when it fails, and leave the caller's
// argument and the reference counts of its objects as they were. What the
// standard coercions convert keeps working as those coercions say.
//
// Then random DISPPARAMS for a bounded time (MORVIK_FUZZ_SECONDS, default 5;
// MORVIK_FUZZ_SEED repeats a run) under the same rules.
#include <initguid.h>
#include <windows.h>
#include <ole2.h>
#include <cguid.h>

#include "morvik.h"
#include "com_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace morvik::test;

const auto* const kApartment = ::testing::AddGlobalTestEnvironment(new ComApartment);

// Any read through this faults.
void* const kPoison = reinterpret_cast<void*>(static_cast<std::uintptr_t>(0x10));

// ---- Objects that count their references ------------------------------------------

class CountedDispatch final : public IDispatch {
public:
    LONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    // Its default value is the text "abc", as a script object's might be.
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                     UINT*) override {
        if (id != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET) || !result) return DISP_E_MEMBERNOTFOUND;
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = SysAllocString(L"abc");
        return S_OK;
    }
};

class CountedRecordInfo final : public IRecordInfo {
public:
    LONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IRecordInfo)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
    HRESULT STDMETHODCALLTYPE RecordInit(PVOID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RecordClear(PVOID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RecordCopy(PVOID, PVOID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetGuid(GUID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetName(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSize(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetField(PVOID, LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFieldNoCopy(PVOID, LPCOLESTR, VARIANT*, PVOID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PutField(ULONG, PVOID, LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PutFieldNoCopy(ULONG, PVOID, LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFieldNames(ULONG*, BSTR*) override { return E_NOTIMPL; }
    BOOL STDMETHODCALLTYPE IsMatchingType(IRecordInfo*) override { return FALSE; }
    PVOID STDMETHODCALLTYPE RecordCreate() override { return nullptr; }
    HRESULT STDMETHODCALLTYPE RecordCreateCopy(PVOID, PVOID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RecordDestroy(PVOID) override { return E_NOTIMPL; }
};

// ---- What a caller hands over, and what must stay as it was ------------------------

// The argument and everything it may point at, so that the argument can be
// built from parts and compared byte for byte afterwards.
struct Argument {
    VARIANTARG arg{};
    VARIANT inner{}, inner2{};
    BSTR string = nullptr;
    LONG number = 0;
    SAFEARRAY* array = nullptr;
    IDispatch* object = nullptr;
    SAFEARRAY header{};  // a hand-made descriptor
};

struct Snapshot {
    unsigned char bytes[sizeof(Argument)];
    std::wstring string;
    explicit Snapshot(const Argument& a) {
        std::memcpy(bytes, &a, sizeof bytes);
        if (a.string) string.assign(a.string, SysStringLen(a.string));
    }
    bool Same(const Argument& a) const {
        return std::memcmp(bytes, &a, sizeof bytes) == 0 &&
               string == (a.string ? std::wstring(a.string, SysStringLen(a.string)) : std::wstring());
    }
};

struct State {
    std::wstring key, result;
    LONG bits = 0;
    bool operator==(const State&) const = default;
};

State StateOf(_RC2* rc2) {
    State s;
    s.key = Get(rc2, &_RC2::get_Key);
    s.result = Get(rc2, &_RC2::get_Result);
    EXPECT_EQ(rc2->get_EffectiveKeyLength(&s.bits), S_OK);
    return s;
}

// The four ways an argument reaches a member: a method that writes its
// argument back, one that only reads it, and a property let of each type.
struct Use {
    const char* name;
    DISPID id;
    WORD flags;
};
const Use kUses[] = {
    {"Encrypt", DISPID_RC2_Encrypt, DISPATCH_METHOD},
    {"Decrypt", DISPID_RC2_Decrypt, DISPATCH_METHOD},
    {"Key let", DISPID_RC2_Key, DISPATCH_PROPERTYPUT},
    {"EffectiveKeyLength let", DISPID_RC2_EffectiveKeyLength, DISPATCH_PROPERTYPUT},
};

InvokeResult Use1(IDispatch* d, const Use& use, VARIANTARG* arg) {
    return Invoke(d, use.id, use.flags, {arg}, use.flags == DISPATCH_PROPERTYPUT);
}

struct Refused {
    const char* what;
    void (*build)(Argument&, CountedDispatch&, CountedRecordInfo&);
    HRESULT hr;
};

SAFEARRAY* Bytes(const char* data, ULONG n) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_UI1, 0, n);
    if (a && n) std::memcpy(a->pvData, data, n);
    return a;
}

const Refused kRefused[] = {
    {"VT_BYREF|VT_BSTR, null", [](Argument& a, auto&, auto&) { V_VT(&a.arg) = VT_BYREF | VT_BSTR; V_BSTRREF(&a.arg) = nullptr; }, E_POINTER},
    {"VT_BYREF|VT_VARIANT, null", [](Argument& a, auto&, auto&) { V_VT(&a.arg) = VT_BYREF | VT_VARIANT; V_VARIANTREF(&a.arg) = nullptr; }, E_POINTER},
    {"VT_BYREF|VT_I4, null", [](Argument& a, auto&, auto&) { V_VT(&a.arg) = VT_BYREF | VT_I4; V_I4REF(&a.arg) = nullptr; }, E_POINTER},
    {"VT_BYREF|VT_DECIMAL, null", [](Argument& a, auto&, auto&) { V_VT(&a.arg) = VT_BYREF | VT_DECIMAL; V_DECIMALREF(&a.arg) = nullptr; }, E_POINTER},
    {"VT_BYREF|VT_DISPATCH, null", [](Argument& a, auto&, auto&) { V_VT(&a.arg) = VT_BYREF | VT_DISPATCH; V_DISPATCHREF(&a.arg) = nullptr; }, E_POINTER},
    {"VT_BYREF|VT_VARIANT to VT_BYREF|VT_BSTR, null",
     [](Argument& a, auto&, auto&) {
         V_VT(&a.inner) = VT_BYREF | VT_BSTR;
         V_BSTRREF(&a.inner) = nullptr;
         V_VT(&a.arg) = VT_BYREF | VT_VARIANT;
         V_VARIANTREF(&a.arg) = &a.inner;
     }, E_POINTER},
    {"VT_BYREF|VT_ARRAY|VT_UI1, null", [](Argument& a, auto&, auto&) { V_VT(&a.arg) = VT_BYREF | VT_ARRAY | VT_UI1; V_ARRAYREF(&a.arg) = nullptr; }, E_POINTER},
    {"VT_ARRAY|VT_UI1, null descriptor", [](Argument& a, auto&, auto&) { V_VT(&a.arg) = VT_ARRAY | VT_UI1; V_ARRAY(&a.arg) = nullptr; }, E_POINTER},
    {"0x7FFF", [](Argument& a, auto&, auto&) { V_VT(&a.arg) = 0x7FFF; V_BYREF(&a.arg) = kPoison; }, DISP_E_TYPEMISMATCH},
    {"0xFFFF", [](Argument& a, auto&, auto&) { V_VT(&a.arg) = 0xFFFF; V_BYREF(&a.arg) = kPoison; }, DISP_E_TYPEMISMATCH},
    {"VT_BYREF|VT_EMPTY", [](Argument& a, auto&, auto&) { V_VT(&a.arg) = VT_BYREF | VT_EMPTY; V_BYREF(&a.arg) = kPoison; }, DISP_E_TYPEMISMATCH},
    {"VT_BYREF|VT_NULL", [](Argument& a, auto&, auto&) { V_VT(&a.arg) = VT_BYREF | VT_NULL; V_BYREF(&a.arg) = kPoison; }, DISP_E_TYPEMISMATCH},
    {"VT_VARIANT by value", [](Argument& a, auto&, auto&) { V_VT(&a.arg) = VT_VARIANT; V_BYREF(&a.arg) = kPoison; }, DISP_E_TYPEMISMATCH},
    {"VT_BYREF|VT_PTR", [](Argument& a, auto&, auto&) { V_VT(&a.arg) = VT_BYREF | VT_PTR; V_BYREF(&a.arg) = kPoison; }, DISP_E_TYPEMISMATCH},
    {"VT_LPWSTR", [](Argument& a, auto&, auto&) { V_VT(&a.arg) = VT_LPWSTR; V_BYREF(&a.arg) = kPoison; }, DISP_E_TYPEMISMATCH},
    {"VT_VECTOR|VT_UI1", [](Argument& a, auto&, auto&) { V_VT(&a.arg) = VT_VECTOR | VT_UI1; V_BYREF(&a.arg) = kPoison; }, DISP_E_TYPEMISMATCH},
    {"VT_ARRAY|VT_BYREF|VT_VARIANT", [](Argument& a, auto&, auto&) { V_VT(&a.arg) = VT_ARRAY | VT_BYREF | VT_VARIANT; V_BYREF(&a.arg) = kPoison; }, DISP_E_TYPEMISMATCH},
    {"VT_BYREF|VT_VARIANT to VT_BYREF|VT_VARIANT",
     [](Argument& a, auto&, auto&) {
         a.string = SysAllocString(L"abc");
         V_VT(&a.inner2) = VT_BSTR;
         V_BSTR(&a.inner2) = a.string;
         V_VT(&a.inner) = VT_BYREF | VT_VARIANT;
         V_VARIANTREF(&a.inner) = &a.inner2;
         V_VT(&a.arg) = VT_BYREF | VT_VARIANT;
         V_VARIANTREF(&a.arg) = &a.inner;
     }, DISP_E_TYPEMISMATCH},
    {"VT_ARRAY|VT_I4",
     [](Argument& a, auto&, auto&) {
         a.array = SafeArrayCreateVector(VT_I4, 0, 3);
         V_VT(&a.arg) = VT_ARRAY | VT_I4;
         V_ARRAY(&a.arg) = a.array;
     }, DISP_E_TYPEMISMATCH},
    {"VT_ARRAY|VT_VARIANT",
     [](Argument& a, auto&, auto&) {
         a.array = SafeArrayCreateVector(VT_VARIANT, 0, 2);
         V_VT(&a.arg) = VT_ARRAY | VT_VARIANT;
         V_ARRAY(&a.arg) = a.array;
     }, DISP_E_TYPEMISMATCH},
    {"VT_ARRAY|VT_UI1 of two dimensions",
     [](Argument& a, auto&, auto&) {
         SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
         a.array = SafeArrayCreate(VT_UI1, 2, bounds);
         V_VT(&a.arg) = VT_ARRAY | VT_UI1;
         V_ARRAY(&a.arg) = a.array;
     }, DISP_E_TYPEMISMATCH},
    {"VT_ARRAY|VT_UI1 with elements and no data",
     [](Argument& a, auto&, auto&) {
         a.header.cDims = 1;
         a.header.cbElements = 1;
         a.header.rgsabound[0].cElements = 4;
         V_VT(&a.arg) = VT_ARRAY | VT_UI1;
         V_ARRAY(&a.arg) = &a.header;
     }, DISP_E_TYPEMISMATCH},
    {"VT_RECORD",
     [](Argument& a, auto&, CountedRecordInfo& info) {
         V_VT(&a.arg) = VT_RECORD;
         V_RECORD(&a.arg) = kPoison;
         V_RECORDINFO(&a.arg) = &info;
     }, DISP_E_TYPEMISMATCH},
    {"VT_BYREF|VT_RECORD",
     [](Argument& a, auto&, CountedRecordInfo& info) {
         V_VT(&a.arg) = VT_BYREF | VT_RECORD;
         V_RECORD(&a.arg) = kPoison;
         V_RECORDINFO(&a.arg) = &info;
     }, DISP_E_TYPEMISMATCH},
    {"VT_DISPATCH, null", [](Argument& a, auto&, auto&) { V_VT(&a.arg) = VT_DISPATCH; V_DISPATCH(&a.arg) = nullptr; }, DISP_E_TYPEMISMATCH},
    {"VT_UNKNOWN, null", [](Argument& a, auto&, auto&) { V_VT(&a.arg) = VT_UNKNOWN; V_UNKNOWN(&a.arg) = nullptr; }, DISP_E_TYPEMISMATCH},
    {"VT_BYREF|VT_DISPATCH to null",
     [](Argument& a, auto&, auto&) {
         a.object = nullptr;
         V_VT(&a.arg) = VT_BYREF | VT_DISPATCH;
         V_DISPATCHREF(&a.arg) = &a.object;
     }, DISP_E_TYPEMISMATCH},
    {"a left-out argument", [](Argument& a, auto&, auto&) { V_VT(&a.arg) = VT_ERROR; V_ERROR(&a.arg) = DISP_E_PARAMNOTFOUND; }, DISP_E_PARAMNOTOPTIONAL},
    {"VT_BYREF|VT_VARIANT to a left-out argument",
     [](Argument& a, auto&, auto&) {
         V_VT(&a.inner) = VT_ERROR;
         V_ERROR(&a.inner) = DISP_E_PARAMNOTFOUND;
         V_VT(&a.arg) = VT_BYREF | VT_VARIANT;
         V_VARIANTREF(&a.arg) = &a.inner;
     }, DISP_E_PARAMNOTOPTIONAL},
};

// What a variable of the random calls owns, released the way VariantClear
// would (which the poisoned record pointer rules out).
void Clear(VARIANT& v) {
    switch (V_VT(&v)) {
    case VT_BSTR: SysFreeString(V_BSTR(&v)); break;
    case VT_DISPATCH: case VT_UNKNOWN: if (V_UNKNOWN(&v)) V_UNKNOWN(&v)->Release(); break;
    case VT_RECORD: V_RECORDINFO(&v)->Release(); break;
    case VT_ARRAY | VT_UI1: case VT_ARRAY | VT_I4: if (V_ARRAY(&v)) SafeArrayDestroy(V_ARRAY(&v)); break;
    default: break;
    }
    V_VT(&v) = VT_EMPTY;
}

void Release(Argument& a) {
    SysFreeString(a.string);
    if (a.array) SafeArrayDestroy(a.array);
}

class Hostile : public ::testing::Test {
protected:
    void SetUp() override {
        rc2_ = CreateRC2();
        ASSERT_NE(rc2_.get(), nullptr);
        ASSERT_EQ(rc2_->QueryInterface(IID_IDispatch, dispatch_.out()), S_OK);
        ASSERT_EQ(PutKey(rc2_.get(), L"kept key"), S_OK);
        PutBits(rc2_.get(), 80);
        Call(rc2_.get(), &_RC2::Encrypt, L"kept text");
    }
    Ptr<_RC2> rc2_;
    Ptr<IDispatch> dispatch_;
};

TEST_F(Hostile, RefusedArgumentsChangeNothing) {
    const State before = StateOf(rc2_.get());
    for (const Refused& row : kRefused) {
        for (const Use& use : kUses) {
            SCOPED_TRACE(std::string(row.what) + " to " + use.name);
            CountedDispatch object;
            CountedRecordInfo info;
            Argument a;
            row.build(a, object, info);
            const Snapshot snapshot(a);
            const InvokeResult out = Use1(dispatch_.get(), use, &a.arg);
            EXPECT_EQ(out.hr, row.hr);
            EXPECT_EQ(out.arg_error, 0u);
            EXPECT_TRUE(snapshot.Same(a)) << "the caller's argument changed";
            EXPECT_EQ(object.refs, 1);
            EXPECT_EQ(info.refs, 1) << "a reference of the record's IRecordInfo was lost or kept";
            EXPECT_TRUE(StateOf(rc2_.get()) == before) << "the object changed";
            Release(a);
        }
    }
}

TEST_F(Hostile, NamedArgumentsOtherThanTheValueOfALet) {
    const State before = StateOf(rc2_.get());
    Argument a;
    a.string = SysAllocString(L"abc");
    V_VT(&a.arg) = VT_BSTR;
    V_BSTR(&a.arg) = a.string;
    struct Row {
        DISPID id;
        WORD flags;
        DISPID named;
        HRESULT hr;
    };
    const Row rows[] = {
        {DISPID_RC2_Key, DISPATCH_PROPERTYPUT, 0, DISP_E_PARAMNOTFOUND},
        {DISPID_RC2_Key, DISPATCH_PROPERTYPUT, DISPID_UNKNOWN, DISP_E_PARAMNOTFOUND},
        {DISPID_RC2_EffectiveKeyLength, DISPATCH_PROPERTYPUT, 1, DISP_E_PARAMNOTFOUND},
        {DISPID_RC2_Encrypt, DISPATCH_METHOD, DISPID_PROPERTYPUT, DISP_E_PARAMNOTFOUND},
        {DISPID_RC2_Decrypt, DISPATCH_METHOD, 7, DISP_E_PARAMNOTFOUND},
        {DISPID_RC2_EncryptAsc, DISPATCH_METHOD, DISPID_UNKNOWN, DISP_E_PARAMNOTFOUND},
        {DISPID_RC2_Result, DISPATCH_PROPERTYGET, 0, DISP_E_BADPARAMCOUNT},  // Result takes nothing
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.named);
        const InvokeResult out = InvokeNamed(dispatch_.get(), row.id, row.flags, {&a.arg}, {row.named});
        EXPECT_EQ(out.hr, row.hr);
        if (row.hr == DISP_E_PARAMNOTFOUND) {
            EXPECT_EQ(out.arg_error, 0u);
        }
        EXPECT_EQ(std::wstring(a.string), L"abc");
        EXPECT_TRUE(StateOf(rc2_.get()) == before);
    }
    // The method's own parameter by name is fine.
    const DISPID stext = 0;
    EXPECT_EQ(InvokeNamed(dispatch_.get(), DISPID_RC2_Decrypt, DISPATCH_METHOD, {&a.arg}, {stext}).hr,
              DISP_E_EXCEPTION);
    Release(a);
}

// What the standard automation coercions make of an argument: the server
// must take the same.
std::wstring AsString(const VARIANTARG& arg) {
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(VariantChangeType(&v, const_cast<VARIANTARG*>(&arg), 0, VT_BSTR), S_OK);
    std::wstring s(V_BSTR(&v), SysStringLen(V_BSTR(&v)));
    VariantClear(&v);
    return s;
}

TEST_F(Hostile, StandardCoercionsKeepWorking) {
    CountedDispatch object;
    std::vector<Argument> args(10);
    V_VT(&args[0].arg) = VT_I4;  V_I4(&args[0].arg) = 123;
    V_VT(&args[1].arg) = VT_R8;  V_R8(&args[1].arg) = 1.5;
    V_VT(&args[2].arg) = VT_BOOL; V_BOOL(&args[2].arg) = VARIANT_TRUE;
    V_VT(&args[3].arg) = VT_BOOL; V_BOOL(&args[3].arg) = VARIANT_FALSE;
    args[4].array = Bytes("a\0b\0c\0", 6);  // the bytes of the string "abc"
    V_VT(&args[4].arg) = VT_ARRAY | VT_UI1; V_ARRAY(&args[4].arg) = args[4].array;
    args[5].array = Bytes("K\0e\0y\0", 6);
    V_VT(&args[5].arg) = VT_BYREF | VT_ARRAY | VT_UI1; V_ARRAYREF(&args[5].arg) = &args[5].array;
    args[6].number = 4711;
    V_VT(&args[6].arg) = VT_BYREF | VT_I4; V_I4REF(&args[6].arg) = &args[6].number;
    V_VT(&args[7].arg) = VT_DISPATCH; V_DISPATCH(&args[7].arg) = &object;  // its default value
    V_VT(&args[8].arg) = VT_CY; V_CY(&args[8].arg).int64 = 123456;
    V_VT(&args[9].inner) = VT_DECIMAL;
    VarDecFromR8(2.25, &V_DECIMAL(&args[9].inner));
    V_VT(&args[9].inner) = VT_DECIMAL;
    V_VT(&args[9].arg) = VT_BYREF | VT_VARIANT; V_VARIANTREF(&args[9].arg) = &args[9].inner;

    for (Argument& a : args) {
        const VARIANTARG* value = V_VT(&a.arg) == (VT_BYREF | VT_VARIANT) ? V_VARIANTREF(&a.arg) : &a.arg;
        const std::wstring expected = AsString(*value);
        SCOPED_TRACE(std::string(expected.begin(), expected.end()));
        const Snapshot snapshot(a);
        ASSERT_EQ(Use1(dispatch_.get(), kUses[2], &a.arg).hr, S_OK);
        EXPECT_EQ(Get(rc2_.get(), &_RC2::get_Key), expected);
        EXPECT_EQ(Use1(dispatch_.get(), kUses[1], &a.arg).hr, DISP_E_EXCEPTION) << "Decrypt of a text that is no ciphertext";
        EXPECT_TRUE(snapshot.Same(a));
        EXPECT_EQ(object.refs, 1);
        Release(a);
    }

    // Empty is "" for a string and 0 for a Long.
    Argument empty;
    ASSERT_EQ(Use1(dispatch_.get(), kUses[3], &empty.arg).hr, S_OK);
    LONG bits = -1;
    ASSERT_EQ(rc2_->get_EffectiveKeyLength(&bits), S_OK);
    EXPECT_EQ(bits, 0);
    EXPECT_EQ(Use1(dispatch_.get(), kUses[0], &empty.arg).hr, S_OK);
    EXPECT_EQ(Get(rc2_.get(), &_RC2::get_Result), L"");
    Argument number;
    V_VT(&number.arg) = VT_R8;
    V_R8(&number.arg) = 64.4;
    ASSERT_EQ(Use1(dispatch_.get(), kUses[3], &number.arg).hr, S_OK);
    ASSERT_EQ(rc2_->get_EffectiveKeyLength(&bits), S_OK);
    EXPECT_EQ(bits, 64);
    V_VT(&number.arg) = VT_BOOL;
    V_BOOL(&number.arg) = VARIANT_TRUE;  // -1: out of range, ignored
    ASSERT_EQ(Use1(dispatch_.get(), kUses[3], &number.arg).hr, S_OK);
    ASSERT_EQ(rc2_->get_EffectiveKeyLength(&bits), S_OK);
    EXPECT_EQ(bits, 64);
}

// ---- Random DISPPARAMS -------------------------------------------------------------

constexpr HRESULT kAllowed[] = {S_OK, DISP_E_EXCEPTION, E_POINTER, E_INVALIDARG, DISP_E_TYPEMISMATCH,
                                DISP_E_BADPARAMCOUNT, DISP_E_PARAMNOTFOUND, DISP_E_PARAMNOTOPTIONAL,
                                DISP_E_MEMBERNOTFOUND, DISP_E_OVERFLOW};

TEST_F(Hostile, RandomDispParamsForABoundedTime) {
    const char* seed_text = std::getenv("MORVIK_FUZZ_SEED");
    const char* seconds_text = std::getenv("MORVIK_FUZZ_SECONDS");
    const unsigned seed = seed_text ? static_cast<unsigned>(std::strtoul(seed_text, nullptr, 10)) : 14u;
    const double seconds = seconds_text ? std::atof(seconds_text) : 5.0;
    std::mt19937 random(seed);
    const auto pick = [&](auto& list) -> decltype(auto) { return list[random() % std::size(list)]; };

    const DISPID ids[] = {DISPID_RC2_EffectiveKeyLength, DISPID_RC2_KeyHex, DISPID_RC2_Key, DISPID_RC2_Encrypt,
                          DISPID_RC2_Decrypt, DISPID_RC2_EncryptHex, DISPID_RC2_DecryptHex, DISPID_RC2_DecryptAsc,
                          DISPID_RC2_Result, DISPID_RC2_ResultHex, DISPID_RC2_ResultAsc, DISPID_RC2_EncryptAsc,
                          DISPID_VALUE, DISPID_UNKNOWN, 0x12345};
    const DISPID named_ids[] = {DISPID_PROPERTYPUT, DISPID_PROPERTYPUT, 0, 1, DISPID_UNKNOWN, DISPID_RC2_Key};
    const VARTYPE types[] = {VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_R8, VT_BOOL, VT_BSTR, VT_BSTR, VT_BSTR,
                             VT_DISPATCH, VT_UNKNOWN, VT_ERROR, VT_DECIMAL, VT_UI1, VT_I8, VT_CY, VT_DATE,
                             VT_RECORD, VT_VARIANT, VT_ARRAY | VT_UI1, VT_ARRAY | VT_I4, VT_PTR, VT_LPSTR,
                             VT_VECTOR | VT_I4, 0x0FFF, 0x3FFF};
    const wchar_t* texts[] = {L"", L"abc", L"Attack at dawn", L"0011223344556677", L"u1UkNw+L05GF2",
                              L"\x00E9\x20AC", L"\x03A9", L"12345678", L"100"};

    long calls = 0, successes = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        // Each variant below owns what it holds, as a caller's would: a
        // reference of the objects, its string, its array.
        CountedDispatch object;
        CountedRecordInfo info;
        Argument args[3];
        const UINT count = random() % 4;
        for (UINT i = 0; i < count; ++i) {
            Argument& a = args[i];
            const bool by_ref = random() % 3 == 0;
            const bool null = random() % 8 == 0;
            VARTYPE vt = pick(types);
            VARIANTARG* target = &a.arg;
            if (by_ref && vt == VT_VARIANT) {  // a reference to a variable, as VBScript passes one
                V_VT(&a.arg) = VT_BYREF | VT_VARIANT;
                V_VARIANTREF(&a.arg) = null ? nullptr : &a.inner;
                if (null) continue;
                target = &a.inner;
                vt = pick(types);
            }
            V_VT(target) = vt;
            switch (vt) {
            case VT_EMPTY: case VT_NULL: break;
            case VT_I2: V_I2(target) = static_cast<SHORT>(random()); break;
            case VT_I4: V_I4(target) = static_cast<LONG>(random() % 2000) - 500; break;
            case VT_R8: V_R8(target) = static_cast<double>(random() % 100000) / 7.0; break;
            case VT_BOOL: V_BOOL(target) = random() % 2 ? VARIANT_TRUE : VARIANT_FALSE; break;
            case VT_BSTR:
                a.string = null ? nullptr : SysAllocString(pick(texts));
                V_BSTR(target) = a.string;
                break;
            case VT_DISPATCH: case VT_UNKNOWN:
                V_DISPATCH(target) = null ? nullptr : &object;
                if (!null) object.AddRef();
                break;
            case VT_ERROR: V_ERROR(target) = random() % 2 ? DISP_E_PARAMNOTFOUND : E_FAIL; break;
            case VT_DECIMAL:
                VarDecFromI4(static_cast<LONG>(random() % 300), &V_DECIMAL(target));
                V_VT(target) = VT_DECIMAL;
                break;
            case VT_UI1: V_UI1(target) = static_cast<BYTE>(random()); break;
            case VT_I8: V_I8(target) = static_cast<LONGLONG>(random()) << 20; break;
            case VT_CY: V_CY(target).int64 = random(); break;
            case VT_DATE: V_DATE(target) = 45000.5; break;
            case VT_RECORD:
                V_RECORD(target) = kPoison;
                V_RECORDINFO(target) = &info;
                info.AddRef();
                break;
            case VT_ARRAY | VT_UI1: a.array = null ? nullptr : Bytes("a\0b\0", 4); V_ARRAY(target) = a.array; break;
            case VT_ARRAY | VT_I4: a.array = SafeArrayCreateVector(VT_I4, 0, 2); V_ARRAY(target) = a.array; break;
            default: V_BYREF(target) = kPoison; break;  // types that must be refused unread
            }
            // A by-reference argument of a plain value points at a variable
            // that now owns the value.
            if (by_ref && target == &a.arg && vt != VT_RECORD && !(vt & VT_ARRAY)) {
                a.inner2 = a.arg;
                V_VT(&a.arg) = VT_BYREF | vt;
                V_BYREF(&a.arg) = null ? nullptr : static_cast<void*>(&V_UI1(&a.inner2));
                if (vt == VT_DECIMAL && !null) V_BYREF(&a.arg) = &V_DECIMAL(&a.inner2);
            }
        }
        VARIANTARG raw[3];
        for (UINT i = 0; i < count; ++i) raw[i] = args[i].arg;
        const UINT n_named = count ? random() % (count + (random() % 10 == 0 ? 2 : 1)) : 0;
        DISPID named[4];
        for (UINT i = 0; i < n_named; ++i) named[i] = pick(named_ids);
        DISPPARAMS params{count ? raw : nullptr, n_named ? named : nullptr, count, n_named};
        const DISPID id = pick(ids);
        const WORD flags = static_cast<WORD>(random() % 16 | (random() % 20 == 0 ? random() : 0));

        std::vector<Snapshot> before;
        for (const Argument& a : args) before.emplace_back(a);
        const LONG object_refs = object.refs, info_refs = info.refs;
        const State state = StateOf(rc2_.get());
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO ex{};
        UINT arg_error = 99;
        const bool with_result = random() % 4 != 0, with_ex = random() % 4 != 0, with_error = random() % 4 != 0;
        const HRESULT hr = dispatch_->Invoke(id, IID_NULL, 0, flags, &params, with_result ? &result : nullptr,
                                             with_ex ? &ex : nullptr, with_error ? &arg_error : nullptr);
        ++calls;
        successes += SUCCEEDED(hr);
        const std::string trace = "call " + std::to_string(calls) + " of seed " + std::to_string(seed);
        // Without exception information a member's own error comes as itself.
        const bool own_error = !with_ex && HRESULT_FACILITY(hr) == FACILITY_CONTROL &&
                               (HRESULT_CODE(hr) == 5 || HRESULT_CODE(hr) == 6 || HRESULT_CODE(hr) == 9);
        EXPECT_TRUE(own_error || std::find(std::begin(kAllowed), std::end(kAllowed), hr) != std::end(kAllowed))
            << trace << ": " << HResultName(hr);
        if (with_error && arg_error != 99) {
            EXPECT_LT(arg_error, count) << trace;
        }
        // Only a successful Encrypt or EncryptAsc writes to its argument, and
        // only to one passed by reference.
        const bool writes = SUCCEEDED(hr) && (id == DISPID_RC2_Encrypt || id == DISPID_RC2_EncryptAsc);
        for (UINT i = 0; i < count; ++i) {
            args[i].arg = raw[i];
            if (!(writes && (V_VT(&raw[i]) & VT_BYREF))) {
                EXPECT_TRUE(before[i].Same(args[i])) << trace << ": argument " << i << " changed";
            }
        }
        if (!writes) {
            EXPECT_EQ(object.refs, object_refs) << trace;
            EXPECT_EQ(info.refs, info_refs) << trace;
        }
        if (FAILED(hr)) {
            EXPECT_TRUE(StateOf(rc2_.get()) == state) << trace << ": the object changed";
        }

        VariantClear(&result);
        SysFreeString(ex.bstrSource);
        SysFreeString(ex.bstrDescription);
        SysFreeString(ex.bstrHelpFile);
        for (Argument& a : args) {
            if (!(V_VT(&a.arg) & VT_BYREF)) Clear(a.arg);
            Clear(a.inner);
            Clear(a.inner2);
        }
        // What the variables owned is gone, and with it every reference.
        EXPECT_EQ(object.refs, 1) << trace;
        EXPECT_EQ(info.refs, 1) << trace;
        if (::testing::Test::HasFailure()) break;
    }
    std::printf("%ld random calls in %.1f s (seed %u), %ld succeeded\n", calls, seconds, seed, successes);
    EXPECT_GT(calls, 1000);
    EXPECT_GT(successes, 10);
}

}  // namespace
