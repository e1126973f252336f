// What every GoogleTest client of the server shares: owners of the COM
// resources it holds (strings, interface pointers, variants, apartments), the
// object created as scripts create it, the members of _RC2 called through the
// vtable and through IDispatch, and HRESULTs named for messages. The dispatch
// identifiers are morvik.h's DISPID_RC2_* (from morvik.idl); the known-answer
// files are read with tests/support/vec.h.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <cguid.h>

#include "morvik.h"
#include "tests/support/vec.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace morvik::test {

// ---- Owners ---------------------------------------------------------------------------

class Bstr {
public:
    Bstr() = default;
    Bstr(const std::wstring& s) : b_(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
    Bstr(const wchar_t* s) : Bstr(std::wstring(s)) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(b_); }
    BSTR get() const { return b_; }
    BSTR* out() { SysFreeString(b_); b_ = nullptr; return &b_; }
    BSTR* inout() { return &b_; }
    std::wstring text() const { return std::wstring(b_, SysStringLen(b_)); }
private:
    BSTR b_ = nullptr;
};

template <class T>
class Ptr {
public:
    Ptr() = default;
    explicit Ptr(T* p) : p_(p) {}
    Ptr(Ptr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ptr(const Ptr&) = delete;
    Ptr& operator=(const Ptr&) = delete;
    Ptr& operator=(Ptr&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ~Ptr() { if (p_) p_->Release(); }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    void** out() { reset(); return reinterpret_cast<void**>(&p_); }
    T** addr() { reset(); return &p_; }
    void reset() { if (p_) p_->Release(); p_ = nullptr; }
private:
    T* p_ = nullptr;
};

struct Variant {
    VARIANT v;
    Variant() { VariantInit(&v); }
    Variant(const Variant&) = delete;
    ~Variant() { VariantClear(&v); }
};

// A single-threaded apartment for the life of the owner, as a script host
// runs in; it is left only if it was entered.
class Apartment {
public:
    Apartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
    ~Apartment() { if (SUCCEEDED(hr_)) CoUninitialize(); }
    HRESULT hr() const { return hr_; }
private:
    HRESULT hr_;
};

// The main thread's apartment for a whole test program:
//   const auto* const kApartment = ::testing::AddGlobalTestEnvironment(new ComApartment);
class ComApartment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK); }
    void TearDown() override { CoUninitialize(); }
};

// ---- HRESULTs -------------------------------------------------------------------------

// The object's own errors: the script error number in the control facility.
constexpr HRESULT ScriptError(unsigned number) { return static_cast<HRESULT>(0x800A0000u | number); }
constexpr HRESULT kInvalidArgument = ScriptError(5);
constexpr HRESULT kOverflow        = ScriptError(6);

// An HRESULT as a reader of a failure message knows it.
inline std::string HResultName(HRESULT hr) {
    static const std::pair<HRESULT, const char*> kNames[] = {
        {S_OK, "S_OK"}, {S_FALSE, "S_FALSE"}, {E_FAIL, "E_FAIL"}, {E_INVALIDARG, "E_INVALIDARG"},
        {E_POINTER, "E_POINTER"}, {E_NOINTERFACE, "E_NOINTERFACE"}, {E_NOTIMPL, "E_NOTIMPL"},
        {E_OUTOFMEMORY, "E_OUTOFMEMORY"}, {E_UNEXPECTED, "E_UNEXPECTED"}, {CO_E_NOTINITIALIZED, "CO_E_NOTINITIALIZED"},
        {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG"}, {CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION"},
        {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE"}, {DISP_E_EXCEPTION, "DISP_E_EXCEPTION"},
        {DISP_E_MEMBERNOTFOUND, "DISP_E_MEMBERNOTFOUND"}, {DISP_E_BADPARAMCOUNT, "DISP_E_BADPARAMCOUNT"},
        {DISP_E_PARAMNOTFOUND, "DISP_E_PARAMNOTFOUND"}, {DISP_E_TYPEMISMATCH, "DISP_E_TYPEMISMATCH"},
        {DISP_E_OVERFLOW, "DISP_E_OVERFLOW"}, {DISP_E_BADVARTYPE, "DISP_E_BADVARTYPE"},
        {DISP_E_NONAMEDARGS, "DISP_E_NONAMEDARGS"}, {DISP_E_UNKNOWNNAME, "DISP_E_UNKNOWNNAME"},
        {DISP_E_BADINDEX, "DISP_E_BADINDEX"},
    };
    char number[16];
    std::snprintf(number, sizeof number, "0x%08lX", static_cast<unsigned long>(hr));
    for (const auto& [value, name] : kNames)
        if (value == hr) return std::string(name) + " (" + number + ")";
    if (HRESULT_FACILITY(hr) == FACILITY_CONTROL)
        return "error " + std::to_string(HRESULT_CODE(hr)) + " (" + number + ")";
    return number;
}

// ---- The object -----------------------------------------------------------------------

// The object by its ProgID, as scripts create it, asked for `iid`.
template <class T>
Ptr<T> Create(REFIID iid) {
    Ptr<T> object;
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(L"Morvik.RC2", &clsid);
    EXPECT_EQ(hr, S_OK) << "CLSIDFromProgID: " << HResultName(hr);
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object.out());
    EXPECT_EQ(hr, S_OK) << "CoCreateInstance: " << HResultName(hr);
    return object;
}
inline Ptr<_RC2> CreateRC2() { return Create<_RC2>(IID__RC2); }
inline Ptr<IDispatch> CreateDispatch() { return Create<IDispatch>(IID_IDispatch); }

// The path of the server as registered: the module that COM loads.
inline std::wstring RegisteredModulePath() {
    wchar_t clsid[40] = {};
    StringFromGUID2(CLSID_RC2, clsid, 40);
    wchar_t path[MAX_PATH] = {};
    LONG size = sizeof path;
    RegQueryValueW(HKEY_CLASSES_ROOT, (L"CLSID\\" + std::wstring(clsid) + L"\\InprocServer32").c_str(), path, &size);
    return path;
}

// The rich error information that the last failing call left: its
// description and source.
inline std::pair<std::wstring, std::wstring> LastError() {
    Ptr<IErrorInfo> info;
    if (GetErrorInfo(0, info.addr()) != S_OK || !info.get()) return {};
    Bstr description, source;
    info->GetDescription(description.out());
    info->GetSource(source.out());
    return {description.text(), source.text()};
}

// ---- Early bound ----------------------------------------------------------------------

using Method = HRESULT (STDMETHODCALLTYPE _RC2::*)(BSTR*, BSTR*);
using Getter = HRESULT (STDMETHODCALLTYPE _RC2::*)(BSTR*);

inline std::wstring Get(_RC2* rc2, Getter member) {
    Bstr out;
    EXPECT_EQ((rc2->*member)(out.out()), S_OK);
    return out.text();
}

inline std::wstring Call(_RC2* rc2, Method member, const std::wstring& arg) {
    Bstr in(arg), out;
    EXPECT_EQ((rc2->*member)(in.inout(), out.out()), S_OK);
    return out.text();
}

inline HRESULT PutKey(_RC2* rc2, const std::wstring& key) {
    Bstr k(key);
    return rc2->put_Key(k.inout());
}

inline HRESULT PutKeyHex(_RC2* rc2, const std::wstring& hex) {
    Bstr k(hex);
    return rc2->put_KeyHex(k.inout());
}

inline void PutBits(_RC2* rc2, LONG bits) { EXPECT_EQ(rc2->put_EffectiveKeyLength(&bits), S_OK); }

// ---- Late bound -----------------------------------------------------------------------

struct InvokeResult {
    HRESULT hr = E_FAIL;
    std::wstring text;  // a string result, or the exception description
    LONG number = 0;
    SCODE scode = 0;
    std::wstring source;
    UINT arg_error = 99;  // 99: not set
};

// One IDispatch::Invoke with `args` in the order a script writes them and
// `named` the identifiers of the last ones. By-value arguments are the
// caller's: what the server left in the call's copy is copied back, so that
// the test sees any change it made to them.
inline InvokeResult InvokeNamed(IDispatch* d, DISPID id, WORD flags, const std::vector<VARIANT*>& args,
                                std::vector<DISPID> named) {
    std::vector<VARIANTARG> raw;
    for (auto it = args.rbegin(); it != args.rend(); ++it) raw.push_back(**it);  // last argument first
    DISPPARAMS params{raw.empty() ? nullptr : raw.data(), named.empty() ? nullptr : named.data(),
                      static_cast<UINT>(raw.size()), static_cast<UINT>(named.size())};
    Variant result;
    EXCEPINFO ex{};
    InvokeResult r;
    r.hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &result.v, &ex, &r.arg_error);
    for (std::size_t i = 0; i < raw.size(); ++i) *args[args.size() - 1 - i] = raw[i];
    if (r.hr == DISP_E_EXCEPTION) {
        r.scode = ex.scode;
        r.text = ex.bstrDescription ? ex.bstrDescription : L"";
        r.source = ex.bstrSource ? ex.bstrSource : L"";
    } else if (V_VT(&result.v) == VT_BSTR) {
        r.text.assign(V_BSTR(&result.v), SysStringLen(V_BSTR(&result.v)));
    } else if (V_VT(&result.v) == VT_I4) {
        r.number = V_I4(&result.v);
    }
    SysFreeString(ex.bstrDescription);
    SysFreeString(ex.bstrSource);
    SysFreeString(ex.bstrHelpFile);
    return r;
}

// The same, `put` naming the one argument of a property let as such.
inline InvokeResult Invoke(IDispatch* d, DISPID id, WORD flags, const std::vector<VARIANT*>& args,
                           bool put = false) {
    return InvokeNamed(d, id, flags, args, put ? std::vector<DISPID>{DISPID_PROPERTYPUT} : std::vector<DISPID>{});
}

// ---- Known answers --------------------------------------------------------------------

// One line of tests/data/messages.vec: hex fields, "-" for an empty one.
struct Message {
    std::string where, key_hex;
    LONG bits = 0;
    std::string plain_hex, cipher_hex, asc;
};

inline std::vector<Message> ReadMessages(const char* path) {
    std::vector<Message> out;
    for (const VecCase& v : ReadVecFile(path)) {
        EXPECT_EQ(v.fields.size(), 5u) << v.Where();
        if (v.fields.size() != 5) continue;
        const auto field = [&](int i) { return v.fields[i] == "-" ? std::string() : v.fields[i]; };
        out.push_back({v.Where(), v.fields[0], std::stol(v.fields[1]), field(2), field(3), field(4)});
    }
    return out;
}

inline std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

inline std::wstring UpperHex(const std::string& bytes) {
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring hex;
    for (unsigned char b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

}  // namespace morvik::test
