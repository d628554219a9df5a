#include "ClassFactory.h"

#include <new>

#include "ModuleState.h"
#include "TorvelAccess.h"

HRESULT CTorvelAccessFactory::Create(REFIID iid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    auto* factory = new (std::nothrow) CTorvelAccessFactory();
    if (factory == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(iid, ppv);
    factory->Release();
    return hr;
}

CTorvelAccessFactory::CTorvelAccessFactory() {
    ModuleLock();
}
CTorvelAccessFactory::~CTorvelAccessFactory() {
    ModuleUnlock();
}

HRESULT CTorvelAccessFactory::QueryInterface(REFIID iid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CTorvelAccessFactory::AddRef() {
    return ++refs_;
}

ULONG CTorvelAccessFactory::Release() {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}

HRESULT CTorvelAccessFactory::CreateInstance(IUnknown* outer, REFIID iid, void** ppv) {
    return CTorvelAccess::Create(outer, iid, ppv);
}

HRESULT CTorvelAccessFactory::LockServer(BOOL lock) {
    if (lock) {
        ModuleLock();
    } else {
        ModuleUnlock();
    }
    return S_OK;
}
