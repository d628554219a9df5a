// IComponentInit: how a component of the family learns the feature context
// (feature name, feature version, context name) it works for.
#pragma once

#include <windows.h>
#include <oaidl.h>

// {682FA257-4B9C-476D-992E-7AB22D3C93D0}
struct IComponentInit : public IUnknown {
    // Always S_OK; the outcome is VARIANT_TRUE or VARIANT_FALSE in *result.
    virtual HRESULT STDMETHODCALLTYPE Initialize(BSTR featureName, BSTR featureVersion, BSTR contextName,
                                                 VARIANT_BOOL* result) = 0;
};

__CRT_UUID_DECL(IComponentInit, 0x682fa257, 0x4b9c, 0x476d, 0x99, 0x2e, 0x7a, 0xb2, 0x2d, 0x3c, 0x93, 0xd0)

extern "C" const IID IID_IComponentInit;
