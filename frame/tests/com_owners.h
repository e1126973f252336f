// Owners of the COM resources that the test clients hold: strings,
// interface pointers and variants, each released exactly once.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <string>
#include <utility>

namespace morvik::test {

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

// The path of the server as registered: the module that COM loads.
inline std::wstring RegisteredModulePath() {
    wchar_t path[MAX_PATH] = {};
    LONG size = sizeof path;
    RegQueryValueW(HKEY_CLASSES_ROOT, L"CLSID\\{12776653-3BE7-48D1-9490-F8921B6FA239}\\InprocServer32", path,
                   &size);
    return path;
}

}  // namespace morvik::test
