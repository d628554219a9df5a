// CCAssembly: creating sibling components by version-independent ProgID and
// initialising them for this assembly's feature context.
#include "CCAssembly.h"

#include "common/trace/CCVireoTrace.h"
#include "common/assembly/ComponentInit.h"
#include "common/conversion/CCStringConversion.h"
#include "common/trace/MethodScope.h"

namespace {
const char kInternal[] = "Internal";

// Null only when out of memory.
Bstr ToBstr(const char* s) {
    CCStringConversion text(s ? s : "");
    return Bstr(text.Convert2W());
}

void TraceFailure(const char* scope, const char* text, HRESULT hr) {
    if (TraceWanted(TraceLevel::Error))
        Trace(TraceLevel::Error, scope, kInternal, text, "hr: 0x%08X, '%s'", static_cast<unsigned>(hr),
              CCVireoTrace::GetErrorText(static_cast<DWORD>(hr)));
}
} // namespace

HRESULT CCAssembly::CLSIDFromProgID(const char* szProgID, CLSID* pClsid) {
    MethodScope method("CCAssembly::CLSIDFromProgID", MethodScope::Called{}, "szProgID: %s",
                       szProgID ? szProgID : "");
    HRESULT hr;
    if (!m_bInitialized) {
        hr = E_FAIL;
    } else if (!pClsid) {
        hr = E_POINTER;
    } else {
        // The map is only changed by initialisation, which callers finish
        // before they create components: read without the lock.
        const auto found = m_comDependencies.find(szProgID ? szProgID : "");
        if (found == m_comDependencies.end()) {
            Trace(TraceLevel::Error, method.Scope(), kInternal, "ProgId not found in dep table", "");
            hr = CLASS_E_CLASSNOTAVAILABLE;
        } else {
            Bstr versioned = ToBstr(found->second.szProgID);
            hr = versioned.Get() ? ::CLSIDFromProgID(versioned.Get(), pClsid) : E_OUTOFMEMORY;
        }
    }
    method.Leave("hReturn: 0x%08X", hr);
    return hr;
}

HRESULT CCAssembly::CoCreateInstance(const char* szProgID, void** ppv, IUnknown* pUnkOuter,
                                     DWORD dwClsContext, REFIID riid) {
    static const char kScope[] = "CCAssembly::CoCreateInstance";
    static const char kText[] = "Method CoCreateInstance has been called";
    Trace(TraceLevel::InfoCC, kScope, "Enter", kText, "szProgID: %s", szProgID ? szProgID : "");
    if (ppv) *ppv = nullptr;
    HRESULT hr = S_OK;
    CLSID clsid{};
    ComPtr<IUnknown> object;
    ComPtr<IComponentInit> init;
    if (!m_bInitialized) {
        Trace(TraceLevel::Error, kScope, kInternal, "Component model not intialized. No work can be done!",
              "");
        hr = E_FAIL;
    } else if (FAILED(hr = CLSIDFromProgID(szProgID, &clsid))) {
        TraceFailure(kScope, "CLSIDFromProgId returned an error!", hr);
    } else if (FAILED(
                   hr = ::CoCreateInstance(clsid, pUnkOuter, dwClsContext, IID_IUnknown, object.PutVoid()))) {
        TraceFailure(kScope, "CoCreateInstance on IUnknown failed!", hr);
    } else if (FAILED(hr = object->QueryInterface(riid, ppv))) {
        TraceFailure(kScope, "QueryInterface on the requested Interface failed!", hr);
    } else {
        // From here on *ppv holds its reference whatever happens: the caller releases it.
        Trace(TraceLevel::VerboseCC, kScope, kInternal, "COM creation succeeded, now calling IComponentInit!",
              "");
        if (FAILED(hr = object->QueryInterface(IID_IComponentInit, init.PutVoid()))) {
            TraceFailure(kScope, "QueryInterface on IComponentInit failed!", hr);
        } else {
            Bstr feature = ToBstr(m_szFeatureName);
            Bstr version = ToBstr(m_szFeatureVersion);
            Bstr context = ToBstr(m_szContextName);
            VARIANT_BOOL initialized = VARIANT_FALSE;
            hr = feature.Get() && version.Get() && context.Get()
                     ? init->Initialize(feature.Get(), version.Get(), context.Get(), &initialized)
                     : E_OUTOFMEMORY;
            if (initialized == VARIANT_FALSE) {
                TraceFailure(kScope, "Calling IComponentInit->Initialize failed!", hr);
                if (SUCCEEDED(hr)) hr = E_UNEXPECTED;
            }
        }
    }
    if (TraceWanted(TraceLevel::InfoCC))
        Trace(TraceLevel::InfoCC, kScope, "Leave", kText, "hr: 0x%08X, '%s'", static_cast<unsigned>(hr),
              CCVireoTrace::GetErrorText(static_cast<DWORD>(hr)));
    return hr;
}
