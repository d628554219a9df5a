// The module object of Korvix.dll: its lock, the lock count, and the
// registration of the component class.
#pragma once

#include <windows.h>

class CKorvixModule {
public:
    CKorvixModule();
    ~CKorvixModule();
    CKorvixModule(const CKorvixModule&) = delete;
    CKorvixModule& operator=(const CKorvixModule&) = delete;

    // False when the module's lock could not be set up; the module then
    // refuses to load.
    bool LockReady() const { return lockReady_; }

    HRESULT RegisterServer();
    HRESULT UnregisterServer();
    // S_OK when no object and no server lock is alive, else S_FALSE.
    HRESULT CanUnloadNow() const;

private:
    CRITICAL_SECTION lock_;
    bool lockReady_ = false;
};

CKorvixModule& KorvixModule();
