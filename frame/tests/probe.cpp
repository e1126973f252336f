// What a client of one architecture finds of the server, for the registration
// tests: run in a prefix after each step, it says whether the state is the
// one expected and fails otherwise.
//
//   probe registered   ProgID, class, a known answer, the type library of
//                      this architecture's own module, and a call through
//                      the marshaller from a second apartment
//   probe absent       the class cannot be created in this architecture
//   probe user         the current user's registration, followed as COM
//                      would (Wine's COM reads only the machine's classes):
//                      ProgID, class, module, type library
#include <initguid.h>
#include <windows.h>
#include <ole2.h>

#include "morvik.h"

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

int failures = 0;
const char* arch = sizeof(void*) == 8 ? "x64" : "x86";

void Check(bool ok, const char* what, HRESULT hr = S_OK) {
    if (ok) return;
    std::printf("FAIL (%s): %s (0x%08lX)\n", arch, what, static_cast<unsigned long>(hr));
    ++failures;
}

std::wstring RegText(HKEY root, const std::wstring& key, const wchar_t* name = nullptr) {
    wchar_t text[1024] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) return {};
    return text;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return !a.empty() && CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

// Key "Morvik", "Attack at dawn": OpenSSL's RC2 gives this.
constexpr wchar_t kAnswer[] = L"CF6CFDE2AAAA3EDEB17CAE40204F96B3";

bool KnownAnswer(_RC2* rc2) {
    BSTR key = SysAllocString(L"Morvik"), text = SysAllocString(L"Attack at dawn"), out = nullptr, hex = nullptr;
    const bool ok = rc2->put_Key(&key) == S_OK && rc2->Encrypt(&text, &out) == S_OK &&
                    rc2->get_ResultHex(&hex) == S_OK && hex && std::wcscmp(hex, kAnswer) == 0;
    for (BSTR s : {key, text, out, hex}) SysFreeString(s);
    return ok;
}

struct ProxyWork {
    IStream* stream = nullptr;
    HRESULT unmarshal = E_FAIL;
    bool answer = false;
};

DWORD WINAPI CallThroughProxy(void* param) {
    auto* w = static_cast<ProxyWork*>(param);
    CoInitialize(nullptr);
    _RC2* proxy = nullptr;
    w->unmarshal = CoGetInterfaceAndReleaseStream(w->stream, IID__RC2, reinterpret_cast<void**>(&proxy));
    if (SUCCEEDED(w->unmarshal)) {
        w->answer = KnownAnswer(proxy);
        proxy->Release();
    }
    CoUninitialize();
    return 0;
}

void Marshalled(_RC2* rc2) {
    ProxyWork work;
    HRESULT hr = CoMarshalInterThreadInterfaceInStream(IID__RC2, rc2, &work.stream);
    Check(hr == S_OK, "marshalling _RC2 for another apartment", hr);
    if (FAILED(hr)) return;
    HANDLE thread = CreateThread(nullptr, 0, CallThroughProxy, &work, 0, nullptr);
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    CloseHandle(thread);
    Check(work.unmarshal == S_OK, "a proxy in the second apartment", work.unmarshal);
    Check(work.answer, "the known answer through the proxy");
}

void Registered() {
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(L"Morvik.RC2", &clsid);
    Check(hr == S_OK && IsEqualCLSID(clsid, CLSID_RC2), "the ProgID names the class", hr);
    _RC2* rc2 = nullptr;
    hr = CoCreateInstance(CLSID_RC2, nullptr, CLSCTX_INPROC_SERVER, IID__RC2, reinterpret_cast<void**>(&rc2));
    Check(hr == S_OK, "creating the object", hr);
    if (!rc2) return;
    Check(KnownAnswer(rc2), "the known answer");

    const std::wstring module = RegText(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(CLSID_RC2) + L"\\InprocServer32");
    BSTR path = nullptr;
    hr = QueryPathOfRegTypeLib(LIBID_Morvik, 1, 1, 0, &path);
    Check(hr == S_OK && SamePath(path ? path : L"", module), "the type library is this architecture's module", hr);
    SysFreeString(path);
    ITypeLib* library = nullptr;
    hr = LoadRegTypeLib(LIBID_Morvik, 1, 1, 0, &library);
    Check(hr == S_OK, "loading the registered type library", hr);
    if (library) library->Release();

    const std::wstring itf = L"Interface\\" + GuidText(IID__RC2);
    Check(RegText(HKEY_CLASSES_ROOT, itf + L"\\TypeLib") == GuidText(LIBID_Morvik), "_RC2 names its type library");
    Marshalled(rc2);
    rc2->Release();
}

void Absent() {
    IUnknown* object = nullptr;
    const HRESULT hr = CoCreateInstance(CLSID_RC2, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                        reinterpret_cast<void**>(&object));
    Check(hr == REGDB_E_CLASSNOTREG, "the class is not registered for this architecture", hr);
    if (object) object->Release();
}

void User() {
    const std::wstring classes = L"Software\\Classes\\";
    const std::wstring clsid = RegText(HKEY_CURRENT_USER, classes + L"Morvik.RC2\\Clsid");
    Check(clsid == GuidText(CLSID_RC2), "the user's ProgID names the class");
    const std::wstring cls = classes + L"CLSID\\" + GuidText(CLSID_RC2);
    const std::wstring module = RegText(HKEY_CURRENT_USER, cls + L"\\InprocServer32");
    Check(RegText(HKEY_CURRENT_USER, cls + L"\\InprocServer32", L"ThreadingModel") == L"Apartment",
          "the user's class is apartment-threaded");
    HMODULE dll = LoadLibraryW(module.c_str());
    Check(dll != nullptr, "loading the module the user's class names");
    if (!dll) return;
    using GetClass = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get_class = reinterpret_cast<GetClass>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    HRESULT hr = get_class ? get_class(CLSID_RC2, IID_IClassFactory, reinterpret_cast<void**>(&factory)) : E_FAIL;
    Check(hr == S_OK, "the module's class object", hr);
    if (factory) {
        _RC2* rc2 = nullptr;
        hr = factory->CreateInstance(nullptr, IID__RC2, reinterpret_cast<void**>(&rc2));
        Check(hr == S_OK, "creating the object", hr);
        if (rc2) {
            Check(KnownAnswer(rc2), "the known answer");
            rc2->Release();
        }
        factory->Release();
    }

    const std::wstring lib = classes + L"TypeLib\\" + GuidText(LIBID_Morvik) + L"\\1.1\\0\\" +
                             (sizeof(void*) == 8 ? L"win64" : L"win32");
    const std::wstring lib_path = RegText(HKEY_CURRENT_USER, lib);
    Check(SamePath(lib_path, module), "the user's type library is the module");
    ITypeLib* library = nullptr;
    hr = LoadTypeLibEx(lib_path.c_str(), REGKIND_NONE, &library);
    Check(hr == S_OK, "loading the user's type library", hr);
    if (library) {
        ITypeInfo* info = nullptr;
        hr = library->GetTypeInfoOfGuid(IID__RC2, &info);
        Check(hr == S_OK, "_RC2 in the user's type library", hr);
        if (info) info->Release();
        library->Release();
    }
    const std::wstring itf = classes + L"Interface\\" + GuidText(IID__RC2) + L"\\TypeLib";
    Check(RegText(HKEY_CURRENT_USER, itf) == GuidText(LIBID_Morvik), "the user's _RC2 names its type library");
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    CoInitialize(nullptr);
    if (what == "registered") Registered();
    else if (what == "absent") Absent();
    else if (what == "user") User();
    else Check(false, "usage: probe registered|absent|user");
    CoUninitialize();
    if (failures == 0) std::printf("%s: %s as expected\n", arch, what.c_str());
    return failures == 0 ? 0 : 1;
}
