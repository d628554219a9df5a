// Rich error information, the COM way: a method that fails (or succeeds with
// something to say) leaves a description on the calling thread with
// SetErrorInfo; its caller, once the object confirmed through
// ISupportErrorInfo that the interface reports errors so, takes it with
// GetErrorInfo.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "ComWrappers.h"

// Error information for a method of `iid`; null when it cannot be made.
inline ComPtr<IErrorInfo> MakeErrorInfo(REFIID iid, const wchar_t* source, const std::wstring& description) {
    ComPtr<ICreateErrorInfo> create;
    ComPtr<IErrorInfo> info;
    if (FAILED(CreateErrorInfo(create.Put())) || FAILED(create.As(IID_IErrorInfo, info))) return nullptr;
    create->SetGUID(iid);
    create->SetSource(const_cast<LPOLESTR>(source));
    create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    return info;
}

// Leaves `description` for the caller of a method of `iid`. An empty text
// clears what an earlier call left, so that a caller never reads a stale one.
inline void SetErrorDescription(REFIID iid, const wchar_t* source, const std::wstring& description) {
    SetErrorInfo(0, description.empty() ? nullptr : MakeErrorInfo(iid, source, description).Get());
}

// Takes the error information that `object` left on this thread for its last
// call through `iid`; null when it left none or does not report errors on
// that interface.
inline ComPtr<IErrorInfo> TakeErrorInfo(IUnknown* object, REFIID iid) {
    ComPtr<ISupportErrorInfo> support;
    ComPtr<IErrorInfo> info;
    if (object != nullptr && SUCCEEDED(object->QueryInterface(IID_ISupportErrorInfo, support.PutVoid())) &&
        support->InterfaceSupportsErrorInfo(iid) == S_OK && GetErrorInfo(0, info.Put()) != S_OK)
        info.Reset();
    return info;
}

// The description of `info`; empty for none.
inline std::wstring ErrorDescription(IErrorInfo* info) {
    Bstr text;
    if (info == nullptr || FAILED(info->GetDescription(text.Put())) || text.Get() == nullptr) return {};
    return std::wstring(text.Get(), text.Length());
}
