// Test-only interface of the test component DLL: reports what its own
// CCAssembly learnt, so that a test can see how the creator initialised it.
#pragma once

#include <windows.h>
#include <oaidl.h>

// {5F0C2B7E-93A4-4D61-8E2B-6A1D0C4F7B39}
struct IAssemblyProbe : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetFeature(BSTR* feature, BSTR* version, BSTR* context,
                                                 VARIANT_BOOL* initialized) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIdentity(BSTR* moduleFileName, BSTR* fileVersion) = 0;
};

constexpr IID kIID_IAssemblyProbe = {
    0x5f0c2b7e, 0x93a4, 0x4d61, {0x8e, 0x2b, 0x6a, 0x1d, 0x0c, 0x4f, 0x7b, 0x39}};
