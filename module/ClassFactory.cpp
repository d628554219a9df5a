#include "ClassFactory.h"

#include "core/com/CSmBiosImpl.h"
#include "core/com/ObjectCount.h"

STDMETHODIMP CSmBiosImplFactory::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CSmBiosImplFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    return CSmBiosImpl::CreateInstance(outer, iid, object);
}

STDMETHODIMP CSmBiosImplFactory::LockServer(BOOL lock) {
    KorvixLockModule(lock ? +1 : -1);
    return S_OK;
}

CSmBiosImplFactory& SmBiosImplFactory() {
    static CSmBiosImplFactory factory;
    return factory;
}
