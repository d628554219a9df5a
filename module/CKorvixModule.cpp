#include "CKorvixModule.h"

#include "Korvix.h"
#include "common/platform/ScriptRegistration.h"
#include "common/trace/Trace.h"

namespace {

constexpr UINT kAppIdScript = 101;
constexpr UINT kClassScript = 102;

// Whether the registrar could be set up. The module path counts as read
// into a buffer of 260 characters: a path that fills it completely may have
// been cut off, so it fails the set-up.
HRESULT Prepare(const ScriptRegistration& registration) {
    if (registration.ModulePath().size() >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    return registration.Status();
}

// The variables of both scripts beside those every module gives.
ScriptRegistration::Variables Variables() {
    const std::wstring libId = GuidText(LIBID_Korvix);
    return {{L"APPID", libId}, {L"FriendlyName", L"CSmBiosImpl Object"}, {L"MODULEGUID", libId}};
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
    Trace(TraceLevel::Info, "CKorvixModule::CKorvixModule", "Leave",
          "A CKorvixModule object was constructed.", "");
}

CKorvixModule::~CKorvixModule() {
    Trace(TraceLevel::Info, "CKorvixModule::~CKorvixModule", "Enter",
          "A CKorvixModule object is being destructed.", "");
    Trace(TraceLevel::Info, "CKorvixModule::~CKorvixModule", "Leave",
          "A CKorvixModule object was destructed.", "");
}

HRESULT CKorvixModule::RegisterServer() {
    ScriptRegistration registration(Variables());
    HRESULT hr = Prepare(registration);
    if (SUCCEEDED(hr)) hr = registration.Register(kAppIdScript);
    if (SUCCEEDED(hr)) hr = RegisterTypeLibrary(registration.ModulePath());
    if (SUCCEEDED(hr)) hr = registration.Register(kClassScript);
    return FAILED(hr) ? hr : S_OK;
}

// The class key is removed whole, together with subkeys that others added
// below it (categories, "Programmable" with contents).
HRESULT CKorvixModule::UnregisterServer() {
    ScriptRegistration registration(Variables());
    HRESULT hr = Prepare(registration);
    if (SUCCEEDED(hr)) hr = registration.Unregister(kClassScript);
    if (SUCCEEDED(hr)) hr = RemoveClassesKey(L"CLSID\\" + GuidText(CLSID_SmBiosImpl));
    if (SUCCEEDED(hr)) hr = UnregisterTypeLibrary();
    if (SUCCEEDED(hr)) hr = registration.Unregister(kAppIdScript);
    return FAILED(hr) ? hr : S_OK;
}
