// assembly_testcomp.dll: a minimal in-process component of the family. Its
// class object answers for any class id, so each test registers it under a
// fresh CLSID and ProgID of its own.
#include <windows.h>
#include <unknwn.h>

#include <atomic>

#include "../../support/StaticClassFactory.h"
#include "AssemblyProbe.h"
#include "common/assembly/CCComponentT.h"

namespace {
std::atomic<long> g_objects{0};

BSTR Widen(const char* s) {
    CCStringConversion text(s);
    return SysAllocString(text.Convert2W() ? text.Convert2W() : L"");
}

// Reports what its own CCAssembly learnt, so that a test sees how the creator initialised it.
class TestComponent : public IAssemblyProbe, public CCComponentT<CCAssembly> {
public:
    TestComponent() { ++g_objects; }
    ~TestComponent() override { --g_objects; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == kIID_IAssemblyProbe) *ppv = static_cast<IAssemblyProbe*>(this);
        if (riid == IID_IComponentInit) *ppv = static_cast<IComponentInit*>(this);
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const long refs = --m_refs;
        if (refs == 0) delete this;
        return refs;
    }
    HRESULT STDMETHODCALLTYPE GetFeature(BSTR* feature, BSTR* version, BSTR* context,
                                         VARIANT_BOOL* initialized) override {
        *feature = Widen(m_assembly.FeatureName());
        *version = Widen(m_assembly.FeatureVersion());
        *context = Widen(m_assembly.ContextName());
        *initialized = m_assembly.IsInitialized() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIdentity(BSTR* moduleFileName, BSTR* fileVersion) override {
        *moduleFileName = Widen(m_assembly.ModuleFileName());
        *fileVersion = Widen(m_assembly.FileVersion());
        return S_OK;
    }

private:
    std::atomic<long> m_refs{1};
};

StaticClassFactory<TestComponent> g_factory;
} // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID riid, void** ppv) {
    return g_factory.QueryInterface(riid, ppv);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return g_objects == 0 ? S_OK : S_FALSE;
}
