// The DLL plumbing: entry point, the exports and the class object. The
// registration they call is in registration.cpp.
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

STDAPI DllRegisterServer() { return Register(); }

STDAPI DllUnregisterServer() { return Unregister(); }
