// The DLL plumbing: entry point, the four exports, the class object and the
// registration of the server.
#include <initguid.h>  // the identifiers of morvik.h are defined in this file
#include "module.h"

#include <olectl.h>

#include <atomic>
#include <string>

namespace morvik::frame {
namespace {

HINSTANCE g_module = nullptr;  // kept by DllMain; registration needs the path

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};
std::atomic<long> g_factory_refs{0};  // held by clients, not the module's own

#ifdef _WIN64
constexpr SYSKIND kSysKind = SYS_WIN64;
#else
constexpr SYSKIND kSysKind = SYS_WIN32;
#endif

std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);  // truncated: long path
    }
}

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

LSTATUS SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY handle;
    LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                     nullptr, &handle, nullptr);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return status;
}

LSTATUS DeleteTree(const std::wstring& key) {
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

std::wstring ClassKey() { return L"CLSID\\" + GuidText(CLSID_RC2); }

// Locks and references come and go in pairs from well-behaved clients; an
// extra unlock or release must not make a count negative and hold the module
// forever.
void Decrement(std::atomic<long>& count) noexcept {
    long n = count.load();
    while (n > 0 && !count.compare_exchange_weak(n, n - 1)) {}
}

// One class object for the life of the module. Clients that make many
// objects keep it (CoGetClassObject, then CreateInstance again and again), so
// their references hold the module like a lock: otherwise the apartment's
// CoFreeUnusedLibraries unloads the DLL under the pointer they still hold.
class ClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // The counts returned include the module's own reference.
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++g_factory_refs + 1); }
    ULONG STDMETHODCALLTYPE Release() override {
        Decrement(g_factory_refs);
        return static_cast<ULONG>(g_factory_refs.load() + 1);
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return CreateRC2(riid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) ++g_locks;
        else Decrement(g_locks);
        return S_OK;
    }
};

ClassFactory g_factory;

}  // namespace

void ObjectCreated() noexcept { ++g_objects; }
void ObjectDestroyed() noexcept { --g_objects; }

HRESULT LoadOwnTypeLib(ITypeLib** library) noexcept try {
    const std::wstring path = ModulePath();
    if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
    return LoadTypeLibEx(path.c_str(), REGKIND_NONE, library);
} catch (...) {
    return E_OUTOFMEMORY;
}

}  // namespace morvik::frame

using namespace morvik::frame;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_module = instance;
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_RC2)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, object);
}

STDAPI DllCanUnloadNow() {
    return g_objects.load() == 0 && g_locks.load() == 0 && g_factory_refs.load() == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() try {
    std::wstring path = ModulePath();
    if (path.empty()) return SELFREG_E_CLASS;

    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    hr = RegisterTypeLib(library, path.data(), nullptr);
    library->Release();
    if (FAILED(hr)) return hr;

    const std::wstring cls = ClassKey();
    const LSTATUS failures[] = {
        SetValue(cls, nullptr, kProgId),
        SetValue(cls + L"\\InprocServer32", nullptr, path),
        SetValue(cls + L"\\InprocServer32", L"ThreadingModel", L"Apartment"),
        SetValue(cls + L"\\ProgID", nullptr, kProgId),
        SetValue(cls + L"\\TypeLib", nullptr, GuidText(LIBID_Morvik)),
        SetValue(cls + L"\\VERSION", nullptr, L"1.1"),
        SetValue(kProgId, nullptr, kProgId),
        SetValue(std::wstring(kProgId) + L"\\Clsid", nullptr, GuidText(CLSID_RC2)),
    };
    for (const LSTATUS status : failures)
        if (status != ERROR_SUCCESS) return SELFREG_E_CLASS;
    return S_OK;
} catch (...) {
    return E_OUTOFMEMORY;
}

STDAPI DllUnregisterServer() try {
    const bool classes_gone = DeleteTree(kProgId) == ERROR_SUCCESS && DeleteTree(ClassKey()) == ERROR_SUCCESS;
    // A library that is not registered is as good as removed.
    BSTR registered = nullptr;
    bool library_gone = FAILED(QueryPathOfRegTypeLib(LIBID_Morvik, 1, 1, 0, &registered));
    SysFreeString(registered);
    if (!library_gone) library_gone = SUCCEEDED(UnRegisterTypeLib(LIBID_Morvik, 1, 1, 0, kSysKind));
    if (!classes_gone) return SELFREG_E_CLASS;
    return library_gone ? S_OK : SELFREG_E_TYPELIB;
} catch (...) {
    return E_OUTOFMEMORY;
}
