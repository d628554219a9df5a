// The class object of CSmBiosImpl, one for the life of the module.
#pragma once

#include <windows.h>
#include <unknwn.h>

class CSmBiosImplFactory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    // The object lives as long as the module; its count only guards misuse.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    STDMETHODIMP LockServer(BOOL lock) override;
};

CSmBiosImplFactory& SmBiosImplFactory();
