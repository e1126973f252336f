// The server's machine-wide registration, with both architectures side by
// side.
//
// On 64-bit Windows the two registry views share the ProgID and the type
// library keys, while each has its own class and interface keys. So each
// architecture writes its class in its own view, its own platform's path under
// the shared type library version, and the interface keys in both views (as
// RegisterTypeLib does, so that either kind of process can marshal); and what
// is shared goes only with the last architecture that is registered. The keys
// are written here rather than by RegisterTypeLib, whose undoing removes the
// interface keys of both views.
#include "module.h"

#include <olectl.h>

#include <string>

namespace morvik::frame {
namespace {

#ifdef _WIN64
constexpr REGSAM kOwnView = KEY_WOW64_64KEY, kOtherView = KEY_WOW64_32KEY;
constexpr const wchar_t* kPlatform = L"win64";
#else
constexpr REGSAM kOwnView = KEY_WOW64_32KEY, kOtherView = KEY_WOW64_64KEY;
constexpr const wchar_t* kPlatform = L"win32";
#endif

// The type library's version and locale (0) are fixed for all builds.
constexpr wchar_t kVersion[] = L"1.1";

// The interface keys of a dual interface name the automation marshaller.
constexpr wchar_t kAutomationProxy[] = L"{00020424-0000-0000-C000-000000000046}";

// Whether there is a second registry view: a 64-bit process, or a 32-bit one
// under WOW64. (On 32-bit Windows the view flags are ignored, and both names
// lead to the one view.)
bool HasOtherView() noexcept {
#ifdef _WIN64
    return true;
#else
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
#endif
}

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

class Classes {
public:
    Classes() : root_(HKEY_LOCAL_MACHINE) {}

    LSTATUS Set(const std::wstring& key, REGSAM view, const wchar_t* name, const std::wstring& value) const {
        HKEY handle;
        LSTATUS status = RegCreateKeyExW(root_, Path(key).c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr,
                                         &handle, nullptr);
        if (status != ERROR_SUCCESS) return status;
        status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(handle);
        return status;
    }

    bool Exists(const std::wstring& key, REGSAM view) const {
        HKEY handle;
        if (RegOpenKeyExW(root_, Path(key).c_str(), 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS)
            return false;
        RegCloseKey(handle);
        return true;
    }

    // Removes `name` and everything below it from `parent`; what is not
    // there is as good as removed.
    LSTATUS Delete(const std::wstring& parent, const std::wstring& name, REGSAM view) const {
        HKEY handle;
        LSTATUS status = RegOpenKeyExW(root_, Path(parent).c_str(), 0, KEY_ALL_ACCESS | view, &handle);
        if (status == ERROR_SUCCESS) {
            status = RegDeleteTreeW(handle, name.c_str());
            RegCloseKey(handle);
        }
        return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
    }

    // Removes `name` from `parent` if nothing is left below it.
    LSTATUS DeleteIfEmpty(const std::wstring& parent, const std::wstring& name, REGSAM view) const {
        HKEY handle;
        LSTATUS status = RegOpenKeyExW(root_, Path(parent + L"\\" + name).c_str(), 0, KEY_READ | view, &handle);
        if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
        if (status != ERROR_SUCCESS) return status;
        DWORD subkeys = 0, values = 0;
        status = RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                  nullptr, nullptr, nullptr);
        RegCloseKey(handle);
        if (status != ERROR_SUCCESS) return status;
        return subkeys || values ? ERROR_SUCCESS : Delete(parent, name, view);
    }

private:
    static std::wstring Path(const std::wstring& key) {
        return key.empty() ? L"Software\\Classes" : L"Software\\Classes\\" + key;
    }
    HKEY root_;
};

struct Keys {
    std::wstring clsid = GuidText(CLSID_RC2);
    std::wstring libid = GuidText(LIBID_Morvik);
    std::wstring iid = GuidText(IID__RC2);
    std::wstring cls = L"CLSID\\" + clsid;
    std::wstring typelib = L"TypeLib\\" + libid;
    std::wstring itf = L"Interface\\" + iid;
};

HRESULT Write(const Classes& classes, const Keys& k) {
    const std::wstring path = ModulePath();
    if (path.empty()) return SELFREG_E_CLASS;
    ITypeLib* library = nullptr;
    HRESULT hr = LoadOwnTypeLib(&library);
    if (FAILED(hr)) return hr;
    TLIBATTR* attr = nullptr;
    BSTR help = nullptr;
    hr = library->GetLibAttr(&attr);
    if (SUCCEEDED(hr)) hr = library->GetDocumentation(-1, nullptr, &help, nullptr, nullptr);
    if (FAILED(hr)) {
        if (attr) library->ReleaseTLibAttr(attr);
        library->Release();
        return hr;
    }
    const std::wstring flags = std::to_wstring(attr->wLibFlags);
    const std::wstring help_text(help ? help : L"");
    library->ReleaseTLibAttr(attr);
    SysFreeString(help);
    library->Release();

    const std::wstring lib = k.typelib + L"\\" + kVersion;
    const bool new_library = !classes.Exists(lib, kOwnView);
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    LSTATUS failed = ERROR_SUCCESS;
    const auto set = [&](const std::wstring& key, REGSAM view, const wchar_t* name, const std::wstring& value) {
        if (failed == ERROR_SUCCESS) failed = classes.Set(key, view, name, value);
    };

    set(lib, kOwnView, nullptr, help_text);
    set(lib + L"\\0\\" + kPlatform, kOwnView, nullptr, path);
    set(lib + L"\\FLAGS", kOwnView, nullptr, flags);
    // Like RegisterTypeLib: the first registration names the folder.
    if (new_library) set(lib + L"\\HELPDIR", kOwnView, nullptr, folder);
    for (const REGSAM view : {kOwnView, kOtherView}) {
        if (view == kOtherView && !HasOtherView()) break;
        set(k.itf, view, nullptr, L"_RC2");
        set(k.itf + L"\\ProxyStubClsid", view, nullptr, kAutomationProxy);
        set(k.itf + L"\\ProxyStubClsid32", view, nullptr, kAutomationProxy);
        set(k.itf + L"\\TypeLib", view, nullptr, k.libid);
        set(k.itf + L"\\TypeLib", view, L"Version", kVersion);
    }
    set(k.cls, kOwnView, nullptr, kProgId);
    set(k.cls + L"\\InprocServer32", kOwnView, nullptr, path);
    set(k.cls + L"\\InprocServer32", kOwnView, L"ThreadingModel", L"Apartment");
    set(k.cls + L"\\ProgID", kOwnView, nullptr, kProgId);
    set(k.cls + L"\\TypeLib", kOwnView, nullptr, k.libid);
    set(k.cls + L"\\VERSION", kOwnView, nullptr, kVersion);
    set(kProgId, kOwnView, nullptr, kProgId);
    set(std::wstring(kProgId) + L"\\Clsid", kOwnView, nullptr, k.clsid);
    return failed == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(failed);
}

}  // namespace

HRESULT Unregister() noexcept try {
    const Classes classes;
    const Keys k;
    LSTATUS failed = ERROR_SUCCESS;
    const auto check = [&](LSTATUS status) {
        if (failed == ERROR_SUCCESS) failed = status;
    };
    check(classes.Delete(L"CLSID", k.clsid, kOwnView));
    const std::wstring lib = k.typelib + L"\\" + kVersion;
    check(classes.Delete(lib + L"\\0", kPlatform, kOwnView));
    check(classes.DeleteIfEmpty(lib, L"0", kOwnView));

    // The other architecture keeps what it shares with this one.
    const bool other_registered = HasOtherView() && classes.Exists(k.cls + L"\\InprocServer32", kOtherView);
    if (!other_registered) {
        check(classes.Delete(L"", kProgId, kOwnView));
        check(classes.Delete(k.typelib, kVersion, kOwnView));
        check(classes.DeleteIfEmpty(L"TypeLib", k.libid, kOwnView));
        for (const REGSAM view : {kOwnView, kOtherView}) {
            if (view == kOtherView && !HasOtherView()) break;
            check(classes.Delete(L"Interface", k.iid, view));
        }
    }
    return failed == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
} catch (...) {
    return E_OUTOFMEMORY;
}

HRESULT Register() noexcept try {
    const Classes classes;
    const HRESULT hr = Write(classes, Keys());
    // A registration that could not be finished is taken back, so that no
    // half of one is left.
    if (FAILED(hr)) Unregister();
    return hr;
} catch (...) {
    Unregister();
    return E_OUTOFMEMORY;
}

}  // namespace morvik::frame
