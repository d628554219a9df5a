// The exports of Korvix.dll and its static objects.
//
// Construction order at load: the trace object (priority 101, in the trace
// library), the module object, the module-wide assembly used by
// DllInitialize/DllUninitialize; destruction runs in reverse.
#include <windows.h>

#include "CKorvixModule.h"
#include "Korvix.h"
#include "common/assembly/AssemblyExports.h"
#include "common/assembly/CCAssembly.h"
#include "common/platform/ComObject.h"
#include "core/com/CSmBiosImpl.h"

namespace {
CKorvixModule g_module __attribute__((init_priority(102)));
CCAssembly g_assembly __attribute__((init_priority(103)));
} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) return g_module.LockReady() ? TRUE : FALSE;
    return TRUE;
}

STDAPI DllCanUnloadNow() {
    return CanUnloadNow();
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    return GetClassObject<CSmBiosImpl>(CLSID_SmBiosImpl, clsid, iid, object);
}

STDAPI DllRegisterServer() {
    return g_module.RegisterServer();
}

STDAPI DllUnregisterServer() {
    return g_module.UnregisterServer();
}

// The host's feature context for the module-wide assembly; the mutex taken
// here is held by the calling thread until DllUninitialize.
extern "C" bool DllInitialize(const char* szFeatureName, const char* szFeatureVersion,
                              const char* szContextName) {
    return AssemblyDllInitialize(g_assembly, szFeatureName, szFeatureVersion, szContextName);
}

extern "C" bool DllUninitialize() {
    return AssemblyDllUninitialize(g_assembly);
}
