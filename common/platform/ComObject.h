// The IUnknown part of the COM objects of both servers, their class object
// and the class-object exports. A class derives from its interfaces and from
// ComObjectRoot, answers QueryInterface itself and leaves AddRef and Release
// to ComInstance<T>, the type that CreateInstance makes:
//
//   class CThing : public IThing, public ComObjectRoot<CThing> {
//   public:
//       STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override;
//   protected:
//       CThing() = default;
//   };
//   STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** ppv) {
//       return GetClassObject<CThing>(CLSID_Thing, clsid, iid, ppv);
//   }
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <new>

#include "common/platform/Module.h"

template <class T> class ComInstance;

// The hooks ComInstance<T> calls; a class declares its own where it needs them.
template <class T> class ComObjectRoot {
public:
    // A new object with the interface `iid` in *ppv; no aggregation.
    static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** ppv) {
        return ComInstance<T>::Create(outer, iid, ppv);
    }

protected:
    // Runs once the new object holds a reference; a failure discards it.
    HRESULT FinalConstruct() { return S_OK; }
    // Runs when the last reference goes, before the destructor.
    void FinalRelease() {}
};

// An object of T with an interlocked reference count. Every live object
// counts in the module lock.
template <class T> class ComInstance final : public T {
public:
    static HRESULT Create(IUnknown* outer, REFIID iid, void** ppv) {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto* object = new (std::nothrow) ComInstance();
        if (object == nullptr) return E_OUTOFMEMORY;
        object->AddRef();
        HRESULT hr = object->FinalConstruct();
        if (SUCCEEDED(hr)) hr = object->QueryInterface(iid, ppv);
        object->Release(); // without a reference handed out this ends the object
        return hr;
    }

    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) {
            this->FinalRelease();
            delete this;
        }
        return static_cast<ULONG>(left);
    }

private:
    ComInstance() { ModuleLock(); }
    ~ComInstance() { ModuleUnlock(); }

    volatile LONG refs_ = 0;
};

// The class object of T: one per module, made at the first request and kept
// for the life of the module (the cache holds one reference). References to
// it do not keep the module loaded; LockServer does.
template <class T> class ClassFactory final : public IClassFactory {
public:
    static ClassFactory& Cached() {
        static ClassFactory factory;
        return factory;
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs_)); }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** ppv) override {
        return T::CreateInstance(outer, iid, ppv);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            ModuleLock();
        else
            ModuleUnlock();
        return S_OK;
    }

private:
    ClassFactory() = default;

    volatile LONG refs_ = 1;
};

// DllGetClassObject of a module that serves the one class T as `served`.
template <class T> HRESULT GetClassObject(REFCLSID served, REFCLSID clsid, REFIID iid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(clsid, served)) return CLASS_E_CLASSNOTAVAILABLE;
    return ClassFactory<T>::Cached().QueryInterface(iid, ppv);
}

// DllCanUnloadNow: S_OK once no object and no server lock is alive.
inline HRESULT CanUnloadNow() {
    return ModuleLockCount() == 0 ? S_OK : S_FALSE;
}
