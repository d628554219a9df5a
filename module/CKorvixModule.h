// The module object of Korvix.dll: its lock and the registration of the
// component class.
#pragma once

#include <windows.h>

#include "common/platform/CriticalSection.h"

class CKorvixModule {
public:
    CKorvixModule();
    ~CKorvixModule();
    CKorvixModule(const CKorvixModule&) = delete;
    CKorvixModule& operator=(const CKorvixModule&) = delete;

    // False when the module's lock could not be set up; the module then
    // refuses to load.
    bool LockReady() const { return lock_.Ready(); }

    HRESULT RegisterServer();
    HRESULT UnregisterServer();

private:
    CriticalSection lock_;
};
