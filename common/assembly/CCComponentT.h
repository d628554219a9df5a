// Base of every component of the family: gives the component its own
// assembly and implements IComponentInit on it. The COM class deriving from
// it supplies QueryInterface/AddRef/Release (and answers IID_IComponentInit
// with this base).
//
//   class CSmBiosImpl : public ISmBiosImpl, public CCComponentT<CCAssembly> { ... };
//   ...m_assembly.CoCreateInstance("AcTorvel.TorvelAccess", ...);
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "common/assembly/CCAssembly.h"
#include "common/assembly/ComponentInit.h"
#include "common/conversion/CCStringConversion.h"
#include "common/trace/MethodScope.h"

template <class TAssembly> class CCComponentT : public IComponentInit {
public:
    CCComponentT() {
        Trace(TraceLevel::InfoCC, "CCComponentT<class CCAssembly>::CCComponentT", "Enter",
              "An instance of CCComponent has been constructed", "");
        Trace(TraceLevel::InfoCC, "CCComponentT<class CCAssembly>::CCComponentT", "Leave",
              "An instance of CCComponent has been constructed", "");
    }
    CCComponentT(const CCComponentT&) = delete;
    CCComponentT& operator=(const CCComponentT&) = delete;
    virtual ~CCComponentT() {
        Trace(TraceLevel::InfoCC, "CCComponentT<class CCAssembly>::~CCComponentT", "Enter",
              "An instance of CCComponent has been destructed", "");
        Trace(TraceLevel::InfoCC, "CCComponentT<class CCAssembly>::~CCComponentT", "Leave",
              "An instance of CCComponent has been destructed", "");
    }

    // IComponentInit: initialises the own assembly for the feature context.
    // Returns S_OK; the outcome is in *result (E_POINTER only for a null
    // result pointer). A null string counts as empty.
    HRESULT STDMETHODCALLTYPE Initialize(BSTR featureName, BSTR featureVersion, BSTR contextName,
                                         VARIANT_BOOL* result) override {
        MethodScope method("CCComponentT<class CCAssembly>::Initialize", MethodScope::Called{});
        if (!result) return E_POINTER;
        *result = VARIANT_FALSE;
        CCStringConversion feature(featureName ? featureName : L"");
        CCStringConversion version(featureVersion ? featureVersion : L"");
        CCStringConversion context(contextName ? contextName : L"");
        const char* featureText = feature.Convert2A();
        const char* versionText = version.Convert2A();
        const char* contextText = context.Convert2A();
        if (m_assembly.Initialize(featureText ? featureText : "", versionText ? versionText : "",
                                  contextText ? contextText : "")) {
            *result = VARIANT_TRUE;
        } else {
            Trace(TraceLevel::Warning, method.Scope(), "Internal",
                  "Calling Assembly.Initialize failed for some reason.", "");
        }
        method.WriteLeave(); // before the conversions go
        return S_OK;
    }

    TAssembly& Assembly() { return m_assembly; }
    const TAssembly& Assembly() const { return m_assembly; }

protected:
    TAssembly m_assembly;
};
