#include "CKorvixModule.h"

#include <shellapi.h>

#include <string>

#include "Korvix.h"
#include "Registrar.h"
#include "common/platform/ComWrappers.h"
#include "common/trace/Trace.h"
#include "core/com/ObjectCount.h"

namespace {

constexpr UINT kAppIdScript = 101;
constexpr UINT kClassScript = 102;
constexpr LCID kSystemDefaultLocale = 2048;

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

// The full path of this module, read into a buffer of 260 characters. A path
// that fills the buffer completely may have been cut off, so it fails too.
HRESULT ModulePath(std::wstring& path) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(reinterpret_cast<const void*>(&ModulePath), &info, sizeof info) == 0)
        return HRESULT_FROM_WIN32(GetLastError());
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetModuleFileNameW(static_cast<HMODULE>(info.AllocationBase), buffer, MAX_PATH);
    if (n == 0) return HRESULT_FROM_WIN32(GetLastError());
    if (n >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    path.assign(buffer, n);
    return S_OK;
}

// The class key is removed whole on unregistration, together with subkeys
// that others added below it (categories, "Programmable" with contents). The
// registrar only deletes keys that its script leaves empty, so what it left
// behind goes here.
HRESULT RemoveClassKey() {
    const std::wstring key = L"CLSID\\" + GuidText(CLSID_SmBiosImpl);
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}

// Sets the thread locale for the lifetime of the guard.
class ThreadLocale {
public:
    explicit ThreadLocale(LCID lcid) : saved_(GetThreadLocale()) { SetThreadLocale(lcid); }
    ~ThreadLocale() { SetThreadLocale(saved_); }

private:
    LCID saved_;
};

// A registrar with the replacement variables every script of this module uses.
HRESULT MakeRegistrar(const std::wstring& path, bool allVariables, ComPtr<IRegistrar>& registrar) {
    HRESULT hr =
        CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IRegistrar, registrar.PutVoid());
    if (FAILED(hr)) return hr;
    const std::wstring appId = GuidText(LIBID_Korvix);
    hr = registrar->AddReplacement(L"APPID", appId.c_str());
    if (FAILED(hr) || !allVariables) return hr;
    const std::wstring quoted = L"\"" + path + L"\"";
    const bool executable = SHGetFileInfoW(path.c_str(), 0, nullptr, 0, SHGFI_EXETYPE) != 0;
    const struct {
        const wchar_t* name;
        std::wstring value;
    } variables[] = {
        {L"FriendlyName", L"CSmBiosImpl Object"},
        {L"Module", quoted},
        {L"Module_Raw", path},
        {L"MODULEGUID", appId},
        {L"MODULETYPE", executable ? L"LocalServer32" : L"InprocServer32"},
    };
    for (const auto& v : variables) {
        hr = registrar->AddReplacement(v.name, v.value.c_str());
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT RegisterTypeLibrary(const std::wstring& path) {
    ComPtr<ITypeLib> lib;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.Put());
    if (FAILED(hr)) return hr;
    return RegisterTypeLib(lib.Get(), const_cast<LPOLESTR>(path.c_str()), nullptr);
}

HRESULT UnregisterTypeLibrary() {
#ifdef _WIN64
    const SYSKIND kind = SYS_WIN64;
#else
    const SYSKIND kind = SYS_WIN32;
#endif
    return UnRegisterTypeLib(LIBID_Korvix, 1, 0, LOCALE_NEUTRAL, kind);
}

} // namespace

CKorvixModule::CKorvixModule() {
    Trace(TraceLevel::Info, "CKorvixModule::CKorvixModule", "Enter",
          "A CKorvixModule object is being constructed.", "");
    lockReady_ = InitializeCriticalSectionAndSpinCount(&lock_, 0) != FALSE;
    Trace(TraceLevel::Info, "CKorvixModule::CKorvixModule", "Leave",
          "A CKorvixModule object was constructed.", "");
}

CKorvixModule::~CKorvixModule() {
    Trace(TraceLevel::Info, "CKorvixModule::~CKorvixModule", "Enter",
          "A CKorvixModule object is being destructed.", "");
    if (lockReady_) DeleteCriticalSection(&lock_);
    Trace(TraceLevel::Info, "CKorvixModule::~CKorvixModule", "Leave",
          "A CKorvixModule object was destructed.", "");
}

HRESULT CKorvixModule::CanUnloadNow() const {
    return KorvixModuleLockCount() == 0 ? S_OK : S_FALSE;
}

HRESULT CKorvixModule::RegisterServer() {
    ThreadLocale locale(kSystemDefaultLocale);
    ComApartment apartment(COINIT_APARTMENTTHREADED);
    std::wstring path;
    HRESULT hr = ModulePath(path);
    if (FAILED(hr)) return hr;

    ComPtr<IRegistrar> appIdRegistrar;
    hr = MakeRegistrar(path, false, appIdRegistrar);
    if (SUCCEEDED(hr)) hr = appIdRegistrar->ResourceRegister(path.c_str(), kAppIdScript, L"REGISTRY");
    if (FAILED(hr)) return hr;

    hr = RegisterTypeLibrary(path);
    if (FAILED(hr)) return hr;
    ComPtr<IRegistrar> classRegistrar;
    hr = MakeRegistrar(path, true, classRegistrar);
    if (SUCCEEDED(hr)) hr = classRegistrar->ResourceRegister(path.c_str(), kClassScript, L"REGISTRY");
    return FAILED(hr) ? hr : S_OK;
}

HRESULT CKorvixModule::UnregisterServer() {
    ThreadLocale locale(kSystemDefaultLocale);
    ComApartment apartment(COINIT_APARTMENTTHREADED);
    std::wstring path;
    HRESULT hr = ModulePath(path);
    if (FAILED(hr)) return hr;

    ComPtr<IRegistrar> classRegistrar;
    hr = MakeRegistrar(path, true, classRegistrar);
    if (SUCCEEDED(hr)) hr = classRegistrar->ResourceUnregister(path.c_str(), kClassScript, L"REGISTRY");
    if (SUCCEEDED(hr)) hr = RemoveClassKey();
    if (SUCCEEDED(hr)) hr = UnregisterTypeLibrary();
    if (FAILED(hr)) return hr;

    ComPtr<IRegistrar> appIdRegistrar;
    hr = MakeRegistrar(path, false, appIdRegistrar);
    if (SUCCEEDED(hr)) hr = appIdRegistrar->ResourceUnregister(path.c_str(), kAppIdScript, L"REGISTRY");
    return FAILED(hr) ? hr : S_OK;
}
