#include "CSmBiosImpl.h"

#include <cstring>
#include <new>

#include "KorvixTypeLib.h"
#include "ObjectCount.h"
#include "common/trace/Trace.h"
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

// EnumAllInstances and FindInstanceByHandle when the structure cannot be
// copied out of the table for want of memory.
HRESULT OutOfMemory(const char* scope, const char* leaveText, ULONG* pulReturnValue) {
    Trace(TraceLevel::Error, scope, "Internal", "FAIL: Out of memory.", "");
    Trace(TraceLevel::Info, scope, "Leave", leaveText, "hRes: 0x%X, RetVal: %d",
          static_cast<unsigned>(E_OUTOFMEMORY), static_cast<int>(RetVal::NotFound));
    *pulReturnValue = RetVal::NotFound;
    return E_OUTOFMEMORY;
}

} // namespace

// ---- lifecycle -------------------------------------------------------------

CSmBiosImpl::CSmBiosImpl() {
    Trace(TraceLevel::Info, "CSmBiosImpl::CSmBiosImpl", "Enter", "A CSmBiosImpl object is being constructed.",
          "");
    KorvixLockModule(+1);
    Trace(TraceLevel::Info, "CSmBiosImpl::CSmBiosImpl", "Leave", "A CSmBiosImpl object was constructed.", "");
}

CSmBiosImpl::~CSmBiosImpl() {
    KorvixLockModule(-1);
}

HRESULT CSmBiosImpl::FinalConstruct() {
    Trace(TraceLevel::Info, "CSmBiosImpl::FinalConstruct", "Enter", "Method FinalConstruct has been entered.",
          "");
    m_initialized = 0;
    m_enumStarted = 0;
    m_enumType = 0xFF;
    m_rawBuffer = nullptr;
    Trace(TraceLevel::Info, "CSmBiosImpl::FinalConstruct", "Leave", "Method FinalConstruct has been left.",
          "");
    return S_OK;
}

void CSmBiosImpl::FinalRelease() {
    Trace(TraceLevel::Info, "CSmBiosImpl::FinalRelease", "Enter", "Method FinalRelease has been entered.",
          "");
    m_table.Detach(nullptr, nullptr);
    delete[] m_rawBuffer;
    m_rawBuffer = nullptr;
    m_driverAccess.Reset();
    m_driverServices.Reset();
    Trace(TraceLevel::Info, "CSmBiosImpl::FinalRelease", "Leave", "Method FinalRelease has been left.", "");
}

HRESULT CSmBiosImpl::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    CSmBiosImpl* created = new (std::nothrow) CSmBiosImpl();
    if (created == nullptr) return E_OUTOFMEMORY;
    created->AddRef();
    HRESULT hr = created->FinalConstruct();
    if (SUCCEEDED(hr)) hr = created->QueryInterface(iid, object);
    created->Release(); // the last reference runs FinalRelease and deletes it
    return hr;
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
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CSmBiosImpl::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_refs));
}

STDMETHODIMP_(ULONG) CSmBiosImpl::Release() {
    const LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0) {
        FinalRelease();
        delete this;
    }
    return static_cast<ULONG>(refs);
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

bool CSmBiosImpl::PassGuard(const char* scope, const char* leaveText, const char* leaveDetails,
                            ULONG* pulReturnValue) {
    if (m_initialized == 0) {
        Trace(TraceLevel::Error, scope, "Internal",
              "FAIL: Initialize was not called - you have to call initialize first. Aborting.", "");
        Trace(TraceLevel::Verbose, scope, "Leave", leaveText, "%s", leaveDetails);
        *pulReturnValue = RetVal::NotInitialized;
        return false;
    }
    Trace(TraceLevel::Verbose, scope, "Internal", "Initialize had been called - we can safely continue.", "");
    return true;
}

STDMETHODIMP CSmBiosImpl::GetAllInstancesOfType(unsigned char bType, VARIANT* pvAttributeNames,
                                                VARIANT* pvAttributeValues, ULONG* pulReturnValue) {
    static const char* const kScope = "CSmBiosImpl::GetAllInstancesOfType";
    static const char* const kLeave = "Method GetAllInstancesOfType has been left.";
    Trace(TraceLevel::Info, kScope, "Enter", "Method GetAllInstancesOfType has been entered.", "bType: %d",
          bType);
    if (pulReturnValue == nullptr || pvAttributeNames == nullptr || pvAttributeValues == nullptr)
        return E_POINTER;
    if (!PassGuard(kScope, kLeave, "hRes = E_FAIL, RetVal = 1", pulReturnValue)) return E_FAIL;

    NestedOutputs out(pvAttributeNames, pvAttributeValues);
    DispatchResult r = m_dispatcher.DispatchMultiInstance(bType, out);
    if (r.hr >= 0 && FAILED(out.Finish())) r = {RetVal::NotFound, E_OUTOFMEMORY};
    if (r.hr >= 0) {
        *pulReturnValue = RetVal::Success;
        Trace(TraceLevel::Info, kScope, "Leave", kLeave, "hRes: 0x%X, RetVal: 0",
              static_cast<unsigned>(r.hr));
    } else {
        *pulReturnValue = r.retVal;
        Trace(TraceLevel::Error, kScope, "Internal", "FAIL: Call to DispatchMultiInstance failed.", "");
        Trace(TraceLevel::Info, kScope, "Leave", kLeave, "hRes: 0x%X, RetVal: %d",
              static_cast<unsigned>(r.hr), static_cast<int>(r.retVal));
    }
    return r.hr;
}

STDMETHODIMP CSmBiosImpl::GetFirstInstanceOfType(unsigned char bType, VARIANT* pvAttributeNames,
                                                 VARIANT* pvAttributeValues, ULONG* pulReturnValue) {
    static const char* const kScope = "CSmBiosImpl::GetFirstInstanceOfType";
    static const char* const kLeave = "Method GetFirstInstanceOfType has been left.";
    Trace(TraceLevel::Info, kScope, "Enter", "Method GetFirstInstanceOfType has been entered.", "bType: %d",
          bType);
    if (pulReturnValue == nullptr || pvAttributeNames == nullptr || pvAttributeValues == nullptr)
        return E_POINTER;
    if (!PassGuard(kScope, kLeave, "hRes = E_FAIL, RetVal: 1", pulReturnValue)) return E_FAIL;

    DirectOutputs out(pvAttributeNames, pvAttributeValues);
    const DispatchResult r = m_dispatcher.DispatchSingleInstance(bType, out);
    if (r.hr >= 0) {
        *pulReturnValue = RetVal::Success;
        Trace(TraceLevel::Info, kScope, "Leave", kLeave, "RetVal: 0, hRes: 0x%X",
              static_cast<unsigned>(r.hr));
    } else {
        *pulReturnValue = r.retVal;
        Trace(TraceLevel::Error, kScope, "Internal", "FAIL: Call to DispatchSingleInstance failed.", "");
        Trace(TraceLevel::Info, kScope, "Leave", kLeave, "hRes: 0x%X, RetVal: %d",
              static_cast<unsigned>(r.hr), static_cast<int>(r.retVal));
    }
    return r.hr;
}

STDMETHODIMP CSmBiosImpl::StartTypeInstanceEnum(unsigned char bType, ULONG* pulReturnValue) {
    static const char* const kScope = "CSmBiosImpl::StartTypeInstanceEnum";
    static const char* const kLeave = "Method StartTypeInstanceEnum has been left.";
    Trace(TraceLevel::Info, kScope, "Enter", "Method StartTypeInstanceEnum has been entered.", "bType: %d",
          bType);
    if (pulReturnValue == nullptr) return E_POINTER;
    if (!PassGuard(kScope, kLeave, "hRes = E_FAIL, RetVal: 1", pulReturnValue)) return E_FAIL;
    m_table.StartTypeEnum(bType);
    m_enumStarted = 1;
    m_enumType = bType;
    *pulReturnValue = RetVal::Success;
    Trace(TraceLevel::Info, kScope, "Leave", kLeave, "RetVal: 0, hRes: 0x%X", 0u);
    return S_OK;
}

STDMETHODIMP CSmBiosImpl::GetNextTypeInstance(VARIANT* pvAttributeNames, VARIANT* pvAttributeValues,
                                              ULONG* pulReturnValue) {
    static const char* const kScope = "CSmBiosImpl::GetNextTypeInstance";
    static const char* const kLeave = "Method GetNextTypeInstance has been left.";
    Trace(TraceLevel::Info, kScope, "Enter", "Method GetNextTypeInstance has been entered.", "");
    if (pulReturnValue == nullptr || pvAttributeNames == nullptr || pvAttributeValues == nullptr)
        return E_POINTER;
    if (!PassGuard(kScope, kLeave, "hRes = E_FAIL, RetVal: 1", pulReturnValue)) return E_FAIL;
    if (m_enumStarted == 0) {
        Trace(TraceLevel::Error, kScope, "Internal",
              "FAIL: GetNextTypeInstance was not called - you have to call GetNextTypeInstance first. "
              "Aborting.",
              "");
        Trace(TraceLevel::Verbose, kScope, "Leave", kLeave, "hRes = E_FAIL, RetVal: 2");
        *pulReturnValue = RetVal::EnumNotStarted;
        return E_FAIL;
    }
    DirectOutputs out(pvAttributeNames, pvAttributeValues);
    const DispatchResult r = m_dispatcher.DispatchNextInstance(m_enumType, out);
    *pulReturnValue = r.retVal;
    if (r.hr >= 0) {
        Trace(TraceLevel::Info, kScope, "Leave", kLeave, "RetVal: 0, hRes: 0x%X",
              static_cast<unsigned>(r.hr));
    } else {
        Trace(TraceLevel::Error, kScope, "Internal", "FAIL: Error calling DispatchNextInstance.", "");
        Trace(TraceLevel::Info, kScope, "Leave", kLeave, "hRes: 0x%X, RetVal: %d",
              static_cast<unsigned>(r.hr), static_cast<int>(r.retVal));
    }
    return r.hr;
}

HRESULT CSmBiosImpl::DecodeFound(bool found, CCSmBiosItem& item, const char* scope, const char* leaveText,
                                 VARIANT* pvAttributeNames, VARIANT* pvAttributeValues,
                                 ULONG* pulReturnValue) {
    if (!found) {
        Trace(TraceLevel::Error, scope, "Internal", "FAIL: No instance with that index found.", "");
        Trace(TraceLevel::Info, scope, "Leave", leaveText, "hRes: E_FAIL, RetVal: 3");
        *pulReturnValue = RetVal::NotFound;
        return E_FAIL;
    }
    std::unique_ptr<CCVSmBiosItem> decoder = m_dispatcher.Dispatch(item.Type());
    if (!decoder) {
        Trace(TraceLevel::Error, scope, "Internal", "FAIL: SmBios Type not supported.", "");
        Trace(TraceLevel::Info, scope, "Leave", leaveText, "hRes: E_FAIL, RetVal: 4");
        *pulReturnValue = RetVal::NotSupported;
        return E_FAIL;
    }
    decoder->MoveFrom(item); // the item is discarded afterwards: no second copy
    Reset(pvAttributeNames);
    Reset(pvAttributeValues);
    decoder->GetTypeInstanceData(pvAttributeNames, pvAttributeValues); // the result is not examined
    *pulReturnValue = RetVal::Success;
    Trace(TraceLevel::Info, scope, "Leave", leaveText, "RetVal: %d, hRes: 0x%X", 0, 0u);
    return S_OK;
}

STDMETHODIMP CSmBiosImpl::EnumAllInstances(UINT uiIndex, VARIANT* pvAttributeNames,
                                           VARIANT* pvAttributeValues, ULONG* pulReturnValue) try {
    static const char* const kScope = "CSmBiosImpl::EnumAllInstances";
    static const char* const kLeave = "Method EnumAllInstances has been left.";
    Trace(TraceLevel::Info, kScope, "Enter", "Method EnumAllInstances has been entered.", "uiIndex: %d",
          uiIndex);
    if (pulReturnValue == nullptr || pvAttributeNames == nullptr || pvAttributeValues == nullptr)
        return E_POINTER;
    if (!PassGuard(kScope, kLeave, "hRes = E_FAIL, RetVal: 1", pulReturnValue)) return E_FAIL;
    CCSmBiosItem item;
    const bool found = m_table.GetByIndex(uiIndex, item);
    return DecodeFound(found, item, kScope, kLeave, pvAttributeNames, pvAttributeValues, pulReturnValue);
} catch (const std::bad_alloc&) {
    return OutOfMemory("CSmBiosImpl::EnumAllInstances", "Method EnumAllInstances has been left.", pulReturnValue);
}

STDMETHODIMP CSmBiosImpl::FindInstanceByHandle(USHORT usHandle, VARIANT* pvAttributeNames,
                                               VARIANT* pvAttributeValues, ULONG* pulReturnValue) try {
    static const char* const kScope = "CSmBiosImpl::FindInstanceByHandle";
    static const char* const kLeave = "Method FindInstanceByHandle has been left.";
    Trace(TraceLevel::Info, kScope, "Enter", "Method FindInstanceByHandle has been entered.", "usHandle: %d",
          usHandle);
    if (pulReturnValue == nullptr || pvAttributeNames == nullptr || pvAttributeValues == nullptr)
        return E_POINTER;
    if (!PassGuard(kScope, kLeave, "hRes = E_FAIL, RetVal: 1", pulReturnValue)) return E_FAIL;
    CCSmBiosItem item;
    const bool found = m_table.GetByHandle(usHandle, item);
    return DecodeFound(found, item, kScope, kLeave, pvAttributeNames, pvAttributeValues, pulReturnValue);
} catch (const std::bad_alloc&) {
    return OutOfMemory("CSmBiosImpl::FindInstanceByHandle", "Method FindInstanceByHandle has been left.", pulReturnValue);
}

void CSmBiosImpl::AttachTableForTesting(const uint8_t* table, uint32_t size) {
    m_table.Detach(nullptr, nullptr);
    delete[] m_rawBuffer;
    m_rawBuffer = new uint8_t[size > 0 ? size : 1];
    if (size > 0) std::memcpy(m_rawBuffer, table, size);
    // The table cannot hand back a buffer of size 0 (Detach refuses it), so
    // an empty one stays with the object alone.
    m_table.Attach(size > 0 ? m_rawBuffer : nullptr, size);
    m_initialized = 1;
}
