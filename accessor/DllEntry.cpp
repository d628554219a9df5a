// Exports of TorvelAccess.dll.
#include <windows.h>

#include "DriverAccess.h"
#include "Registration.h"
#include "TorvelAccess.h"

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* ppv) {
    return GetClassObject<CTorvelAccess>(CLSID_TorvelAccess, clsid, iid, ppv);
}

STDAPI DllCanUnloadNow() {
    return CanUnloadNow();
}

STDAPI DllRegisterServer() {
    return TorvelAccessRegistration::Register();
}

STDAPI DllUnregisterServer() {
    return TorvelAccessRegistration::Unregister();
}
