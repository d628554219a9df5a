// Exports of TorvelAccess.dll.
#include <windows.h>
#include <objbase.h>

#include <string>

#include "ClassFactory.h"
#include "DriverAccess.h"
#include "ModuleState.h"
#include "Registration.h"

namespace {
HMODULE g_module = nullptr;

// Full path of this DLL; empty when it cannot be found.
std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(g_module, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}
} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_TorvelAccess)) return CLASS_E_CLASSNOTAVAILABLE;
    return CTorvelAccessFactory::Create(iid, ppv);
}

STDAPI DllCanUnloadNow() {
    return ModuleLockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
    const std::wstring path = ModulePath();
    if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
    return TorvelAccessRegistration::Register(path.c_str());
}

STDAPI DllUnregisterServer() {
    return TorvelAccessRegistration::Unregister();
}
