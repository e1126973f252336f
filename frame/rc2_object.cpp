// The RC2 automation object: its COM identity, late binding through IDispatch,
// and the fifteen members of _RC2 as thin calls into morvik::RC2.
#include "module.h"
#include <morvik/code_page.h>

#include <climits>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include <morvik/error.h>
#include <morvik/rc2.h>
#include <morvik/detail/wipe.h>

namespace morvik::frame {
namespace {

// ---- Strings across the boundary -------------------------------------------

struct BstrFree {
    void operator()(OLECHAR* s) const noexcept { SysFreeString(s); }
};
using Bstr = std::unique_ptr<OLECHAR, BstrFree>;

// A byte string that is wiped when it goes: texts and keys pass through here.
struct Bytes {
    std::string s;
    Bytes() = default;
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;
    ~Bytes() { detail::Wipe(s); }
};

Bstr AllocBstr(UINT length) {
    Bstr b(SysAllocStringLen(nullptr, length));
    if (!b) throw std::bad_alloc();
    return b;
}

[[noreturn]] void Overflow() { throw Error(ErrorNumber::Overflow); }

// A byte string from an automation string, one byte per character through the
// ANSI code page's table. A character that stands for no byte fails with
// Overflow instead of turning into '?' and silently changing a key or a
// ciphertext.
void ReadBytes(BSTR text, Bytes& out) {
    const CodePage& page = AnsiCodePage::Ansi();
    const UINT n = SysStringLen(text);
    out.s.assign(n, '\0');
    for (UINT i = 0; i < n; ++i) {
        const int byte = page.Byte(text[i]);
        if (byte < 0) Overflow();
        out.s[i] = static_cast<char>(byte);
    }
}

// An automation string from a byte string, one character per byte.
Bstr WriteBytes(std::string_view bytes) {
    if (bytes.size() > INT_MAX) throw std::bad_alloc();
    const CodePage& page = AnsiCodePage::Ansi();
    Bstr out = AllocBstr(static_cast<UINT>(bytes.size()));
    for (std::size_t i = 0; i < bytes.size(); ++i) out.get()[i] = page.Char(static_cast<std::uint8_t>(bytes[i]));
    return out;
}

// Hex and armoured texts are read character by character, and only ASCII
// characters can be digits; anything else becomes a byte that is no digit of
// either form, so the text keeps its length and its meaning.
void ReadText(BSTR text, Bytes& out) {
    const UINT n = SysStringLen(text);
    out.s.resize(n);
    for (UINT i = 0; i < n; ++i)
        out.s[i] = text[i] < 0x80 ? static_cast<char>(text[i]) : static_cast<char>(0xFF);
}

Bstr WriteText(std::string_view ascii) {
    Bstr out = AllocBstr(static_cast<UINT>(ascii.size()));
    for (std::size_t i = 0; i < ascii.size(); ++i) out.get()[i] = static_cast<unsigned char>(ascii[i]);
    return out;
}

// The caller's string with the characters of `extra` zero bytes appended.
Bstr ZeroFilled(BSTR text, std::size_t extra) {
    const UINT n = SysStringLen(text);
    Bstr out = AllocBstr(static_cast<UINT>(n + extra));
    if (n) std::wmemcpy(out.get(), text, n);
    std::wmemset(out.get() + n, AnsiCodePage::Ansi().Char(0), extra);
    return out;
}

// ---- Errors --------------------------------------------------------------------


HRESULT ErrorHResult(const Error& e) noexcept {
    return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, static_cast<unsigned>(e.code()));
}

// The standard text of an error HRESULT of ours, or "" for any other.
std::wstring ErrorDescription(HRESULT hr) {
    if (HRESULT_FACILITY(hr) != FACILITY_CONTROL) return {};
    const char* text = ErrorText(static_cast<ErrorNumber>(HRESULT_CODE(hr)));
    return std::wstring(text, text + std::strlen(text));
}

HRESULT Report(const Error& e) noexcept {
    const HRESULT hr = ErrorHResult(e);
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create))) return hr;
    try {
        std::wstring description = ErrorDescription(hr);
        std::wstring source = kProgId;
        create->SetGUID(IID__RC2);
        create->SetSource(source.data());
        create->SetDescription(description.data());
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
            SetErrorInfo(0, info);
            info->Release();
        }
    } catch (...) {
    }
    create->Release();
    return hr;
}

// Every member runs inside this: a failure of the core becomes its automation
// error, with the error information set for rich clients.
template <class Body>
HRESULT Guard(Body&& body) noexcept {
    try {
        body();
        return S_OK;
    } catch (const Error& e) {
        return Report(e);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// ---- The object ------------------------------------------------------------------

class RC2Object final : public _RC2, public ISupportErrorInfo {
public:
    RC2Object() noexcept { ObjectCreated(); }
    ~RC2Object() { ObjectDestroyed(); }
    RC2Object(const RC2Object&) = delete;
    RC2Object& operator=(const RC2Object&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID__RC2) ||
            IsEqualIID(riid, IID_RC2___v0)) {
            *object = static_cast<_RC2*>(this);
        } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
            *object = static_cast<ISupportErrorInfo*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
        return IsEqualIID(riid, IID__RC2) || IsEqualIID(riid, IID_RC2___v0) ? S_OK : S_FALSE;
    }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* arg_error) override;

    // _RC2, slots 7 to 21
    HRESULT STDMETHODCALLTYPE get_EffectiveKeyLength(LONG* result) override {
        if (!result) return E_POINTER;
        *result = rc2_.EffectiveKeyLength();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_EffectiveKeyLength(LONG* lLen) override {
        if (!lLen) return E_POINTER;
        rc2_.EffectiveKeyLength(*lLen);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_KeyHex(BSTR* sKeyHex) override {
        if (!sKeyHex) return E_POINTER;
        return Guard([&] {
            Bytes hex;
            ReadText(*sKeyHex, hex);
            rc2_.KeyHex(hex.s);
        });
    }
    HRESULT STDMETHODCALLTYPE get_Key(BSTR* result) override {
        return Get(result, [&] { return WriteBytes(rc2_.Key()); });
    }
    HRESULT STDMETHODCALLTYPE get_KeyHex(BSTR* result) override {
        return Get(result, [&] {
            Bytes hex;
            hex.s = rc2_.KeyHex();
            return WriteText(hex.s);
        });
    }
    HRESULT STDMETHODCALLTYPE put_Key(BSTR* sKey) override {
        if (!sKey) return E_POINTER;
        return Guard([&] {
            Bytes key;
            ReadBytes(*sKey, key);
            rc2_.Key(key.s);
        });
    }
    HRESULT STDMETHODCALLTYPE Encrypt(BSTR* sText, BSTR* result) override {
        return Filling(sText, result, [&](std::string& text) { return WriteBytes(rc2_.Encrypt(text)); });
    }
    HRESULT STDMETHODCALLTYPE Decrypt(BSTR* sText, BSTR* result) override {
        return Call(sText, result, ReadBytes, [&](const std::string& text) { return WriteBytes(rc2_.Decrypt(text)); });
    }
    HRESULT STDMETHODCALLTYPE EncryptHex(BSTR* sHex, BSTR* result) override {
        return Call(sHex, result, ReadText, [&](const std::string& hex) { return WriteBytes(rc2_.EncryptHex(hex)); });
    }
    HRESULT STDMETHODCALLTYPE DecryptHex(BSTR* sHex, BSTR* result) override {
        return Call(sHex, result, ReadText, [&](const std::string& hex) { return WriteBytes(rc2_.DecryptHex(hex)); });
    }
    HRESULT STDMETHODCALLTYPE DecryptAsc(BSTR* sAsc, BSTR* result) override {
        return Call(sAsc, result, ReadText, [&](const std::string& asc) { return WriteBytes(rc2_.DecryptAsc(asc)); });
    }
    HRESULT STDMETHODCALLTYPE get_Result(BSTR* result) override {
        return Get(result, [&] { return WriteBytes(rc2_.Result()); });
    }
    HRESULT STDMETHODCALLTYPE get_ResultHex(BSTR* result) override {
        return Get(result, [&] { return WriteText(rc2_.ResultHex()); });
    }
    HRESULT STDMETHODCALLTYPE get_ResultAsc(BSTR* result) override {
        return Get(result, [&] { return WriteText(rc2_.ResultAsc()); });
    }
    HRESULT STDMETHODCALLTYPE EncryptAsc(BSTR* sText, BSTR* result) override {
        return Filling(sText, result, [&](std::string& text) { return WriteText(rc2_.EncryptAsc(text)); });
    }

private:
    template <class Make>
    static HRESULT Get(BSTR* result, Make&& make) noexcept {
        if (!result) return E_POINTER;
        *result = nullptr;
        return Guard([&] { *result = make().release(); });
    }

    // A method that reads its argument and never changes it.
    template <class Read, class Run>
    static HRESULT Call(BSTR* arg, BSTR* result, Read&& read, Run&& run) noexcept {
        if (!arg || !result) return E_POINTER;
        *result = nullptr;
        return Guard([&] {
            Bytes in;
            read(*arg, in);
            *result = run(in.s).release();
        });
    }

    // Encrypt and EncryptAsc: the zero filling reaches the caller's string,
    // and only once everything else has succeeded.
    template <class Run>
    static HRESULT Filling(BSTR* arg, BSTR* result, Run&& run) noexcept {
        if (!arg || !result) return E_POINTER;
        *result = nullptr;
        return Guard([&] {
            Bytes text;
            ReadBytes(*arg, text);
            const std::size_t before = text.s.size();
            Bstr out = run(text.s);
            if (text.s.size() != before) {
                Bstr filled = ZeroFilled(*arg, text.s.size() - before);
                SysFreeString(*arg);
                *arg = filled.release();
            }
            *result = out.release();
        });
    }

    LONG       refs_ = 1;
    morvik::RC2 rc2_;
};

// ---- Late binding ------------------------------------------------------------------

using GetLong  = HRESULT (STDMETHODCALLTYPE _RC2::*)(LONG*);
using PutLong  = HRESULT (STDMETHODCALLTYPE _RC2::*)(LONG*);
using GetText  = HRESULT (STDMETHODCALLTYPE _RC2::*)(BSTR*);
using PutText  = HRESULT (STDMETHODCALLTYPE _RC2::*)(BSTR*);
using Method   = HRESULT (STDMETHODCALLTYPE _RC2::*)(BSTR*, BSTR*);

struct Member {
    const wchar_t* name;
    DISPID         id;
    const wchar_t* param = nullptr;  // a method's parameter, for named arguments
    GetLong        get_long = nullptr;
    PutLong        put_long = nullptr;
    GetText        get_text = nullptr;
    PutText        put_text = nullptr;
    Method         method = nullptr;
    bool           fills_argument = false;  // writes its zero filling back
};

const Member kMembers[] = {
    {.name = L"EffectiveKeyLength", .id = DISPID_RC2_EffectiveKeyLength, .get_long = &_RC2::get_EffectiveKeyLength,
     .put_long = &_RC2::put_EffectiveKeyLength},
    {.name = L"KeyHex", .id = DISPID_RC2_KeyHex, .get_text = &_RC2::get_KeyHex, .put_text = &_RC2::put_KeyHex},
    {.name = L"Key", .id = DISPID_RC2_Key, .get_text = &_RC2::get_Key, .put_text = &_RC2::put_Key},
    {.name = L"Encrypt", .id = DISPID_RC2_Encrypt, .param = L"sText", .method = &_RC2::Encrypt, .fills_argument = true},
    {.name = L"Decrypt", .id = DISPID_RC2_Decrypt, .param = L"sText", .method = &_RC2::Decrypt},
    {.name = L"EncryptHex", .id = DISPID_RC2_EncryptHex, .param = L"sHex", .method = &_RC2::EncryptHex},
    {.name = L"DecryptHex", .id = DISPID_RC2_DecryptHex, .param = L"sHex", .method = &_RC2::DecryptHex},
    {.name = L"DecryptAsc", .id = DISPID_RC2_DecryptAsc, .param = L"sAsc", .method = &_RC2::DecryptAsc},
    {.name = L"Result", .id = DISPID_RC2_Result, .get_text = &_RC2::get_Result},
    {.name = L"ResultHex", .id = DISPID_RC2_ResultHex, .get_text = &_RC2::get_ResultHex},
    {.name = L"ResultAsc", .id = DISPID_RC2_ResultAsc, .get_text = &_RC2::get_ResultAsc},
    {.name = L"EncryptAsc", .id = DISPID_RC2_EncryptAsc, .param = L"sText", .method = &_RC2::EncryptAsc,
     .fills_argument = true},
};

// Member names are ASCII; folding only ASCII letters keeps the comparison the
// same under every locale (a Turkish dotless i never matches "i").
bool SameName(const wchar_t* a, const wchar_t* b) noexcept {
    auto fold = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; };
    for (; *a && *b; ++a, ++b)
        if (fold(*a) != fold(*b)) return false;
    return *a == *b;
}

const Member* FindMember(DISPID id) noexcept {
    for (const Member& m : kMembers)
        if (m.id == id) return &m;
    return nullptr;
}

const Member* FindMember(const wchar_t* name) noexcept {
    if (!name) return nullptr;
    for (const Member& m : kMembers)
        if (SameName(m.name, name)) return &m;
    return nullptr;
}

// The copies that late binding makes may hold a key or a plaintext: wipe
// them before they go back to the system's string cache.
void FreeWiped(BSTR s) noexcept {
    if (s) detail::Wipe(s, SysStringByteLen(s));
    SysFreeString(s);
}

void ClearWiped(VARIANT& v) noexcept {
    if (V_VT(&v) == VT_BSTR) {
        FreeWiped(V_BSTR(&v));
        V_VT(&v) = VT_EMPTY;
    }
    VariantClear(&v);
}

// ---- Arguments as late-bound callers build them ---------------------------------

// The size of the value that a by-reference argument of base type `vt` points
// at, or 0 where the standard coercions have nothing to read.
std::size_t ReferencedSize(VARTYPE vt) noexcept {
    switch (vt) {
    case VT_I1: case VT_UI1:
        return 1;
    case VT_I2: case VT_UI2: case VT_BOOL:
        return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR:
        return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE:
        return 8;
    case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN:
        return sizeof(void*);
    case VT_DECIMAL:
        return sizeof(DECIMAL);
    default:
        return 0;
    }
}

// A by-value view of an argument, owning nothing, that the standard coercions
// can read without following a pointer: every reference is checked and
// followed here instead. Caller-built arguments reach neither VariantCopyInd
// nor VariantChangeType with a null reference, a type they do not know, a
// reference to a reference, an array other than a byte vector, or a record
// (whose copy they would release once too often).
HRESULT View(const VARIANTARG& arg, VARIANT& view, bool inner = false) noexcept {
    std::memset(&view, 0, sizeof view);
    const VARTYPE vt = V_VT(&arg);
    if (vt == (VT_BYREF | VT_VARIANT)) {
        if (inner) return DISP_E_TYPEMISMATCH;
        if (!V_VARIANTREF(&arg)) return E_POINTER;
        return View(*V_VARIANTREF(&arg), view, true);
    }
    if ((vt & ~VT_BYREF) == (VT_ARRAY | VT_UI1)) {
        // A byte array becomes a string of its bytes: scripts hand over
        // binary data that way.
        if ((vt & VT_BYREF) && !V_ARRAYREF(&arg)) return E_POINTER;
        SAFEARRAY* array = vt & VT_BYREF ? *V_ARRAYREF(&arg) : V_ARRAY(&arg);
        if (!array) return E_POINTER;
        if (array->cDims != 1 || array->cbElements != 1 || (array->rgsabound[0].cElements && !array->pvData))
            return DISP_E_TYPEMISMATCH;
        V_VT(&view) = VT_ARRAY | VT_UI1;
        V_ARRAY(&view) = array;
        return S_OK;
    }
    if (vt & VT_BYREF) {
        const VARTYPE base = vt & ~VT_BYREF;
        const std::size_t size = ReferencedSize(base);
        if (size == 0) return DISP_E_TYPEMISMATCH;
        if (!V_BYREF(&arg)) return E_POINTER;
        if (base == VT_DECIMAL) V_DECIMAL(&view) = *V_DECIMALREF(&arg);  // fills the whole variant
        else std::memcpy(&V_UI1(&view), V_BYREF(&arg), size);
        V_VT(&view) = base;
    } else if (vt == VT_EMPTY || vt == VT_NULL || ReferencedSize(vt) != 0) {
        std::memcpy(&view, &arg, sizeof view);
    } else {
        return DISP_E_TYPEMISMATCH;
    }
    if ((V_VT(&view) == VT_DISPATCH || V_VT(&view) == VT_UNKNOWN) && !V_UNKNOWN(&view)) return DISP_E_TYPEMISMATCH;
    if (V_VT(&view) == VT_ERROR && V_ERROR(&view) == DISP_E_PARAMNOTFOUND) return DISP_E_PARAMNOTOPTIONAL;
    return S_OK;
}

// One argument as a value of the wanted type, by the standard coercions.
HRESULT Coerce(const VARIANTARG& arg, VARTYPE type, VARIANT& value) noexcept {
    VariantInit(&value);
    VARIANT view;
    HRESULT hr = View(arg, view);
    if (FAILED(hr)) return hr;
    hr = VariantChangeType(&value, &view, 0, type);
    if (FAILED(hr)) {
        ClearWiped(value);
        return hr == DISP_E_OVERFLOW || hr == E_OUTOFMEMORY ? hr : DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

// The caller's own string storage behind a by-reference argument, if it is one.
BSTR* CallerString(VARIANTARG* arg) noexcept {
    if (V_VT(arg) == (VT_BYREF | VT_BSTR)) return V_BSTRREF(arg);
    if (V_VT(arg) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(arg)) {
        VARIANT* inner = V_VARIANTREF(arg);
        if (V_VT(inner) == VT_BSTR) return &V_BSTR(inner);
        if (V_VT(inner) == (VT_BYREF | VT_BSTR)) return V_BSTRREF(inner);
    }
    return nullptr;
}

HRESULT CallMethod(_RC2* self, const Member& m, VARIANTARG* arg, BSTR* result, UINT* arg_error) noexcept {
    if (m.fills_argument) {
        // By reference: the member works on the caller's variable itself.
        if (BSTR* own = CallerString(arg)) return (self->*m.method)(own, result);
    }
    VARIANT value;
    if (const HRESULT hr = Coerce(*arg, VT_BSTR, value); FAILED(hr)) {
        if (arg_error) *arg_error = 0;
        return hr;
    }
    const UINT before = SysStringLen(V_BSTR(&value));
    const HRESULT hr = (self->*m.method)(&V_BSTR(&value), result);
    if (SUCCEEDED(hr) && m.fills_argument && V_VT(arg) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(arg) &&
        SysStringLen(V_BSTR(&value)) != before) {
        // A variable that held a number or nothing now holds the filled text.
        VariantClear(V_VARIANTREF(arg));
        *V_VARIANTREF(arg) = value;
        return hr;
    }
    ClearWiped(value);
    return hr;
}

HRESULT PutProperty(_RC2* self, const Member& m, VARIANTARG* arg, UINT* arg_error) noexcept {
    // A property let reads its value and never writes back, so it always
    // works on a copy.
    VARIANT value;
    const HRESULT coerced = Coerce(*arg, m.put_long ? VT_I4 : VT_BSTR, value);
    if (FAILED(coerced)) {
        if (arg_error) *arg_error = 0;
        return coerced;
    }
    const HRESULT hr = m.put_long ? (self->*m.put_long)(&V_I4(&value)) : (self->*m.put_text)(&V_BSTR(&value));
    ClearWiped(value);
    return hr;
}

}  // namespace

namespace {

// The type information is loaded once for the module and kept while it is
// loaded. Each object loading and releasing its own let the type library's
// count reach zero in one apartment while another found it in the system's
// cache of loaded libraries and took it up again: Wine then freed it under
// the second caller, which crashed two apartments calling at the same time.
ITypeInfo* g_type_info = nullptr;
HRESULT    g_type_info_status = E_UNEXPECTED;

BOOL CALLBACK LoadTypeInfo(PINIT_ONCE, PVOID, PVOID*) {
    ITypeLib* library = nullptr;
    g_type_info_status = LoadOwnTypeLib(&library);
    if (SUCCEEDED(g_type_info_status)) {
        g_type_info_status = library->GetTypeInfoOfGuid(IID__RC2, &g_type_info);
        library->Release();
    }
    return TRUE;
}

}  // namespace

HRESULT RC2Object::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    InitOnceExecuteOnce(&once, LoadTypeInfo, nullptr, nullptr);
    if (FAILED(g_type_info_status) || !g_type_info) return FAILED(g_type_info_status) ? g_type_info_status : E_FAIL;
    g_type_info->AddRef();
    *info = g_type_info;
    return S_OK;
}

HRESULT RC2Object::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids || count == 0) return E_INVALIDARG;
    const Member* m = FindMember(names[0]);
    ids[0] = m ? m->id : DISPID_UNKNOWN;
    HRESULT hr = m ? S_OK : DISP_E_UNKNOWNNAME;
    for (UINT i = 1; i < count; ++i) {
        const bool known = m && m->param && names[i] && SameName(m->param, names[i]);
        ids[i] = known ? 0 : DISPID_UNKNOWN;
        if (!known) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT RC2Object::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                          EXCEPINFO* exception, UINT* arg_error) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!params || (params->cArgs && !params->rgvarg) || (params->cNamedArgs && !params->rgdispidNamedArgs) ||
        params->cNamedArgs > params->cArgs)
        return E_INVALIDARG;
    const Member* m = FindMember(id);
    if (!m) return DISP_E_MEMBERNOTFOUND;
    // Named arguments come first in rgvarg; the one that is not a parameter
    // of the member is the one to report.
    const auto unknown_named = [&] {
        if (arg_error) *arg_error = 0;
        return DISP_E_PARAMNOTFOUND;
    };

    _RC2* self = this;
    HRESULT hr;
    BSTR text = nullptr;
    LONG number = 0;
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        if (!(flags & DISPATCH_PROPERTYPUT) || !(m->put_long || m->put_text)) return DISP_E_MEMBERNOTFOUND;
        if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
        if (params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) return unknown_named();
        hr = PutProperty(self, *m, &params->rgvarg[0], arg_error);
        result = nullptr;
    } else if (m->method) {
        if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
        if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
        if (params->cNamedArgs == 1 && params->rgdispidNamedArgs[0] != 0) return unknown_named();
        hr = CallMethod(self, *m, &params->rgvarg[0], &text, arg_error);
    } else {
        if (!(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD))) return DISP_E_MEMBERNOTFOUND;
        if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
        hr = m->get_long ? (self->*m->get_long)(&number) : (self->*m->get_text)(&text);
    }

    // Written last: a caller may have pointed it at its own argument.
    if (result) VariantInit(result);
    if (FAILED(hr)) {
        FreeWiped(text);
        if (HRESULT_FACILITY(hr) != FACILITY_CONTROL || !exception) return hr;
        // The member's own error, handed to late-bound callers as exception
        // information.
        std::memset(exception, 0, sizeof *exception);
        exception->scode = hr;
        exception->bstrSource = SysAllocString(kProgId);
        try {
            exception->bstrDescription = SysAllocString(ErrorDescription(hr).c_str());
        } catch (...) {
        }
        return DISP_E_EXCEPTION;
    }
    if (!result) {
        FreeWiped(text);
    } else if (m->get_long) {
        V_VT(result) = VT_I4;
        V_I4(result) = number;
    } else {
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = text;
    }
    return S_OK;
}

HRESULT CreateRC2(REFIID riid, void** object) noexcept {
    if (!object) return E_POINTER;
    *object = nullptr;
    auto* rc2 = new (std::nothrow) RC2Object;
    if (!rc2) return E_OUTOFMEMORY;
    const HRESULT hr = rc2->QueryInterface(riid, object);
    rc2->Release();
    return hr;
}

}  // namespace morvik::frame
