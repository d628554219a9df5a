// The class object of CTorvelAccess.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>

class CTorvelAccessFactory final : public IClassFactory {
public:
    // A new class object with the interface `iid` in *ppv.
    static HRESULT Create(REFIID iid, void** ppv);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    CTorvelAccessFactory();
    ~CTorvelAccessFactory();

    std::atomic<ULONG> refs_{1};
};
