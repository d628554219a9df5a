#include "CSmBiosImpl.h"

#include <cstring>
#include <new>

#include "KorvixTypeLib.h"
#include "common/trace/MethodScope.h"
#include "items/com/VariantList.h"

namespace {

// Clears an initialised VARIANT output back to VT_EMPTY.
void Reset(VARIANT* v) {
    VariantClear(v);
    VariantInit(v);
}

// GetFirstInstanceOfType and GetNextTypeInstance: the decoder writes the
// caller's outputs directly.
class DirectOutputs : public IDispatchOutputs {
public:
    DirectOutputs(VARIANT* names, VARIANT* values) : names_(names), values_(values) {}
    void Prepare() override {
        Reset(names_);
        Reset(values_);
    }
    int32_t Emit(const CCVSmBiosItem& decoder) override {
        return decoder.GetTypeInstanceData(names_, values_);
    }

private:
    VARIANT* names_;
    VARIANT* values_;
};

// GetAllInstancesOfType: one element per structure in each outer array,
// handed to the outputs once all structures are decoded.
class NestedOutputs : public IDispatchOutputs {
public:
    NestedOutputs(VARIANT* names, VARIANT* values) : names_(names), values_(values) {}
    void Prepare() override {
        Reset(names_);
        Reset(values_);
        outerNames_.Clear();
        outerValues_.Clear();
    }
    int32_t Emit(const CCVSmBiosItem& decoder) override {
        Variant names, values;
        const HRESULT hr = decoder.GetTypeInstanceData(names.Get(), values.Get());
        if (FAILED(hr)) return hr;
        outerNames_.Take(*names.Get());
        outerValues_.Take(*values.Get());
        return hr;
    }
    // Outputs stay VT_EMPTY when no structure was found, and when the outer
    // arrays cannot be made (E_OUTOFMEMORY): no partial answer.
    HRESULT Finish() {
        if (outerNames_.Size() == 0) return S_OK;
        HRESULT hr = outerNames_.MoveInto(names_);
        if (SUCCEEDED(hr)) hr = outerValues_.MoveInto(values_);
        if (FAILED(hr)) Prepare();
        return hr;
    }

private:
    VARIANT* names_;
    VARIANT* values_;
    VariantList outerNames_;
    VariantList outerValues_;
};

// The end of a query that ran a dispatch driver: the driver's RetVal, the
// Leave details and, when it failed, the record `failure`.
HRESULT Finish(MethodScope& method, const DispatchResult& r, ULONG* pulReturnValue, const char* failure) {
    *pulReturnValue = r.retVal;
    if (r.hr >= 0) {
        method.Leave("RetVal: 0, hRes: 0x%X", r.hr);
    } else {
        Trace(TraceLevel::Error, method.Scope(), "Internal", failure, "");
        method.Leave("hRes: 0x%X, RetVal: %d", r.hr, r.retVal);
    }
    return r.hr;
}

// EnumAllInstances and FindInstanceByHandle when the structure cannot be
// copied out of the table for want of memory.
HRESULT OutOfMemory(MethodScope& method, ULONG* pulReturnValue) {
    Trace(TraceLevel::Error, method.Scope(), "Internal", "FAIL: Out of memory.", "");
    method.Leave("hRes: 0x%X, RetVal: %d", E_OUTOFMEMORY, RetVal::NotFound);
    *pulReturnValue = RetVal::NotFound;
    return E_OUTOFMEMORY;
}

} // namespace

// ---- lifecycle -------------------------------------------------------------

CSmBiosImpl::CSmBiosImpl() {
    Trace(TraceLevel::Info, "CSmBiosImpl::CSmBiosImpl", "Enter", "A CSmBiosImpl object is being constructed.",
          "");
    Trace(TraceLevel::Info, "CSmBiosImpl::CSmBiosImpl", "Leave", "A CSmBiosImpl object was constructed.", "");
}

HRESULT CSmBiosImpl::FinalConstruct() {
    MethodScope method("CSmBiosImpl::FinalConstruct");
    m_initialized = 0;
    m_enumStarted = 0;
    m_enumType = 0xFF;
    return S_OK;
}

void CSmBiosImpl::FinalRelease() {
    MethodScope method("CSmBiosImpl::FinalRelease");
    m_table.Reset(); // frees the raw table
    m_driverAccess.Reset();
    m_driverServices.Reset();
}

// ---- IUnknown ----------------------------------------------------------------

STDMETHODIMP CSmBiosImpl::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ISmBios)
        *object = static_cast<ISmBios*>(this);
    else if (iid == IID_IComponentInit)
        *object = static_cast<IComponentInit*>(this);
    else if (iid == IID_ISmBiosImpl || iid == IID_IDispatch)
        *object = static_cast<ISmBiosImpl*>(this);
    else if (iid == IID_IProvideClassInfo)
        *object = static_cast<IProvideClassInfo*>(this);
    else if (iid == IID_ISupportErrorInfo)
        *object = static_cast<ISupportErrorInfo*>(this);
    else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(*object)->AddRef();
    return S_OK;
}

// ---- IDispatch and IProvideClassInfo ----------------------------------------

STDMETHODIMP CSmBiosImpl::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP CSmBiosImpl::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return GetKorvixTypeInfo(IID_ISmBiosImpl, info);
}

STDMETHODIMP CSmBiosImpl::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    ComPtr<ITypeInfo> info;
    const HRESULT hr = GetKorvixTypeInfo(IID_ISmBiosImpl, info.Put());
    return FAILED(hr) ? hr : DispGetIDsOfNames(info.Get(), names, count, ids);
}

STDMETHODIMP CSmBiosImpl::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO* exception, UINT* argError) {
    ComPtr<ITypeInfo> info;
    const HRESULT hr = GetKorvixTypeInfo(IID_ISmBiosImpl, info.Put());
    if (FAILED(hr)) return hr;
    return DispInvoke(static_cast<ISmBiosImpl*>(this), info.Get(), id, flags, params, result, exception,
                      argError);
}

STDMETHODIMP CSmBiosImpl::GetClassInfo(ITypeInfo** info) {
    return GetKorvixTypeInfo(CLSID_SmBiosImpl, info);
}

STDMETHODIMP CSmBiosImpl::InterfaceSupportsErrorInfo(REFIID iid) {
    return iid == IID_ISmBiosImpl ? S_OK : S_FALSE;
}

// ---- queries -------------------------------------------------------------------

template <class... Outputs>
HRESULT CSmBiosImpl::Admit(MethodScope& method, ULONG* pulReturnValue, Outputs*... outputs) {
    if (pulReturnValue == nullptr || ((outputs == nullptr) || ...)) {
        method.Dismiss();
        return E_POINTER;
    }
    if (m_initialized == 0) {
        Trace(TraceLevel::Error, method.Scope(), "Internal",
              "FAIL: Initialize was not called - you have to call initialize first. Aborting.", "");
        method.Leave(TraceLevel::Verbose, "hRes = E_FAIL, RetVal: 1");
        *pulReturnValue = RetVal::NotInitialized;
        return E_FAIL;
    }
    Trace(TraceLevel::Verbose, method.Scope(), "Internal",
          "Initialize had been called - we can safely continue.", "");
    return S_OK;
}

STDMETHODIMP CSmBiosImpl::GetAllInstancesOfType(unsigned char bType, VARIANT* pvAttributeNames,
                                                VARIANT* pvAttributeValues, ULONG* pulReturnValue) {
    MethodScope method("CSmBiosImpl::GetAllInstancesOfType", TraceLevel::Info, "bType: %d", bType);
    if (const HRESULT hr = Admit(method, pulReturnValue, pvAttributeNames, pvAttributeValues); hr != S_OK) {
        if (hr == E_FAIL) method.Leave(TraceLevel::Verbose, "hRes = E_FAIL, RetVal = 1"); // its own spelling
        return hr;
    }
    NestedOutputs out(pvAttributeNames, pvAttributeValues);
    DispatchResult r = m_dispatcher.DispatchMultiInstance(bType, out);
    if (r.hr >= 0 && FAILED(out.Finish())) r = {RetVal::NotFound, E_OUTOFMEMORY};
    if (r.hr < 0) return Finish(method, r, pulReturnValue, "FAIL: Call to DispatchMultiInstance failed.");
    *pulReturnValue = RetVal::Success;
    method.Leave("hRes: 0x%X, RetVal: 0", r.hr); // this method's own order
    return r.hr;
}

STDMETHODIMP CSmBiosImpl::GetFirstInstanceOfType(unsigned char bType, VARIANT* pvAttributeNames,
                                                 VARIANT* pvAttributeValues, ULONG* pulReturnValue) {
    MethodScope method("CSmBiosImpl::GetFirstInstanceOfType", TraceLevel::Info, "bType: %d", bType);
    if (const HRESULT hr = Admit(method, pulReturnValue, pvAttributeNames, pvAttributeValues); hr != S_OK)
        return hr;
    DirectOutputs out(pvAttributeNames, pvAttributeValues);
    return Finish(method, m_dispatcher.DispatchSingleInstance(bType, out), pulReturnValue,
                  "FAIL: Call to DispatchSingleInstance failed.");
}

STDMETHODIMP CSmBiosImpl::StartTypeInstanceEnum(unsigned char bType, ULONG* pulReturnValue) {
    MethodScope method("CSmBiosImpl::StartTypeInstanceEnum", TraceLevel::Info, "bType: %d", bType);
    if (const HRESULT hr = Admit(method, pulReturnValue); hr != S_OK) return hr;
    m_table.StartTypeEnum(bType);
    m_enumStarted = 1;
    m_enumType = bType;
    *pulReturnValue = RetVal::Success;
    method.Leave("RetVal: 0, hRes: 0x%X", S_OK);
    return S_OK;
}

STDMETHODIMP CSmBiosImpl::GetNextTypeInstance(VARIANT* pvAttributeNames, VARIANT* pvAttributeValues,
                                              ULONG* pulReturnValue) {
    MethodScope method("CSmBiosImpl::GetNextTypeInstance");
    if (const HRESULT hr = Admit(method, pulReturnValue, pvAttributeNames, pvAttributeValues); hr != S_OK)
        return hr;
    if (m_enumStarted == 0) {
        Trace(TraceLevel::Error, method.Scope(), "Internal",
              "FAIL: GetNextTypeInstance was not called - you have to call GetNextTypeInstance first. "
              "Aborting.",
              "");
        method.Leave(TraceLevel::Verbose, "hRes = E_FAIL, RetVal: 2");
        *pulReturnValue = RetVal::EnumNotStarted;
        return E_FAIL;
    }
    DirectOutputs out(pvAttributeNames, pvAttributeValues);
    return Finish(method, m_dispatcher.DispatchNextInstance(m_enumType, out), pulReturnValue,
                  "FAIL: Error calling DispatchNextInstance.");
}

template <class Find>
HRESULT CSmBiosImpl::DecodeFound(MethodScope& method, Find find, VARIANT* pvAttributeNames,
                                 VARIANT* pvAttributeValues, ULONG* pulReturnValue) {
    if (const HRESULT hr = Admit(method, pulReturnValue, pvAttributeNames, pvAttributeValues); hr != S_OK)
        return hr;
    try {
        CCSmBiosItem item;
        if (!find(item)) {
            Trace(TraceLevel::Error, method.Scope(), "Internal", "FAIL: No instance with that index found.", "");
            method.Leave("hRes: E_FAIL, RetVal: 3");
            *pulReturnValue = RetVal::NotFound;
            return E_FAIL;
        }
        std::unique_ptr<CCVSmBiosItem> decoder = m_dispatcher.Dispatch(item.Type());
        if (!decoder) {
            Trace(TraceLevel::Error, method.Scope(), "Internal", "FAIL: SmBios Type not supported.", "");
            method.Leave("hRes: E_FAIL, RetVal: 4");
            *pulReturnValue = RetVal::NotSupported;
            return E_FAIL;
        }
        decoder->MoveFrom(item); // the item is discarded afterwards: no second copy
        Reset(pvAttributeNames);
        Reset(pvAttributeValues);
        decoder->GetTypeInstanceData(pvAttributeNames, pvAttributeValues); // the result is not examined
        *pulReturnValue = RetVal::Success;
        method.Leave("RetVal: %d, hRes: 0x%X", RetVal::Success, S_OK);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return OutOfMemory(method, pulReturnValue);
    }
}

STDMETHODIMP CSmBiosImpl::EnumAllInstances(UINT uiIndex, VARIANT* pvAttributeNames,
                                           VARIANT* pvAttributeValues, ULONG* pulReturnValue) {
    MethodScope method("CSmBiosImpl::EnumAllInstances", TraceLevel::Info, "uiIndex: %d", uiIndex);
    auto byIndex = [&](CCSmBiosItem& item) { return m_table.GetByIndex(uiIndex, item); };
    return DecodeFound(method, byIndex, pvAttributeNames, pvAttributeValues, pulReturnValue);
}

STDMETHODIMP CSmBiosImpl::FindInstanceByHandle(USHORT usHandle, VARIANT* pvAttributeNames,
                                               VARIANT* pvAttributeValues, ULONG* pulReturnValue) {
    MethodScope method("CSmBiosImpl::FindInstanceByHandle", TraceLevel::Info, "usHandle: %d", usHandle);
    auto byHandle = [&](CCSmBiosItem& item) { return m_table.GetByHandle(usHandle, item); };
    return DecodeFound(method, byHandle, pvAttributeNames, pvAttributeValues, pulReturnValue);
}

void CSmBiosImpl::AttachTableForTesting(const uint8_t* table, uint32_t size) {
    // An empty table still gets a buffer: Initialize takes any attached
    // buffer for an acquired table.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size > 0 ? size : 1]);
    if (size > 0) std::memcpy(copy.get(), table, size);
    m_table.Attach(std::move(copy), size);
    m_initialized = 1;
}
