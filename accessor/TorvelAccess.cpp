#include "TorvelAccess.h"

#include <cstring>

#include "TableSource.h"
#include "common/conversion/CCVariantConversion.h"
#include "common/platform/ComWrappers.h"
#include "common/platform/ErrorInfo.h"
#include "common/trace/MethodScope.h"

namespace {

constexpr ULONG kSizeAnswerBytes = 4;
constexpr const wchar_t* kSource = L"AcTorvel.TorvelAccess";

const HRESULT kNotRunning = HRESULT_FROM_WIN32(ERROR_SERVICE_NOT_ACTIVE);
const HRESULT kNotOpen = HRESULT_FROM_WIN32(ERROR_NOT_READY);
const HRESULT kUnknownCode = HRESULT_FROM_WIN32(ERROR_INVALID_FUNCTION);
const HRESULT kOutputTooSmall = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

std::string Narrow(BSTR s) {
    if (s == nullptr) return {};
    const int length = static_cast<int>(SysStringLen(s));
    const int n = WideCharToMultiByte(CP_ACP, 0, s, length, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, s, length, &out[0], n, nullptr, nullptr);
    return out;
}

// The method scope of the accessor's methods, one call of a method of
// `iid`: the Leave record carries the result and the status, and then the
// caller gets the error information: `why` (a failure's reason or a
// success's warning), or none.
class MethodTrace : public MethodScope {
public:
    MethodTrace(const char* scope, REFIID iid) : MethodScope(scope), iid_(iid) {}
    ~MethodTrace() {
        Leave("hRes: 0x%X, status: %u", hr, status);
        WriteLeave();
        SetErrorDescription(iid_, kSource, why);
    }
    // Sets the result and its reason; returns the result.
    HRESULT Fail(HRESULT result, ULONG statusValue, std::wstring reason) {
        status = statusValue;
        why = std::move(reason);
        return hr = result;
    }
    // A call without the status it must fill in.
    HRESULT NoStatus() {
        const char* name = std::strstr(Scope(), "::") + 2;
        return Fail(E_POINTER, DA_STATUS_INVALID_REQUEST,
                    std::wstring(name, name + std::strlen(name)) + L" needs a status");
    }
    HRESULT hr = S_OK;
    ULONG status = DA_STATUS_OK;
    std::wstring why;

private:
    REFIID iid_;
};

} // namespace

CTorvelAccess::CTorvelAccess() {
    Trace(TraceLevel::Info, "CTorvelAccess::CTorvelAccess", "Enter",
          "An instance of CTorvelAccess has been constructed", "");
}

CTorvelAccess::~CTorvelAccess() {
    Trace(TraceLevel::Info, "CTorvelAccess::~CTorvelAccess", "Leave",
          "An instance of CTorvelAccess has been destructed", "");
}

HRESULT CTorvelAccess::FinalConstruct() {
    if (!lock_.Ready()) return E_OUTOFMEMORY;
    // Without the marshaler the object still works within its apartment.
    CoCreateFreeThreadedMarshaler(static_cast<IDriverAccessRaw*>(this), marshaler_.Put());
    return S_OK;
}

HRESULT CTorvelAccess::QueryInterface(REFIID iid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDriverAccessRaw)) {
        *ppv = static_cast<IDriverAccessRaw*>(this);
    } else if (IsEqualIID(iid, IID_IDriverServices)) {
        *ppv = static_cast<IDriverServices*>(this);
    } else if (IsEqualIID(iid, IID_IComponentInit)) {
        *ppv = static_cast<IComponentInit*>(this);
    } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
        *ppv = static_cast<ISupportErrorInfo*>(this);
    } else if (IsEqualIID(iid, IID_IMarshal) && marshaler_) {
        return marshaler_->QueryInterface(iid, ppv);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(*ppv)->AddRef();
    return S_OK;
}

HRESULT CTorvelAccess::Start(ULONG* pulStatus) {
    static constexpr const char* kScope = "CTorvelAccess::Start";
    MethodTrace method(kScope, IID_IDriverServices);
    if (pulStatus == nullptr) return method.NoStatus();
    CriticalSectionHold hold(lock_);
    method.status = running_ ? DA_STATUS_ALREADY_RUNNING : DA_STATUS_OK;
    running_ = true;
    *pulStatus = method.status;
    return method.hr = S_OK;
}

HRESULT CTorvelAccess::Stop(ULONG* pulStatus) {
    return End("CTorvelAccess::Stop", running_, DA_STATUS_NOT_RUNNING, pulStatus);
}

HRESULT CTorvelAccess::Open(ULONG ulDevice, ULONG ulFlags, ULONG* pulStatus) {
    static constexpr const char* kScope = "CTorvelAccess::Open";
    MethodTrace method(kScope, IID_IDriverServices);
    if (pulStatus == nullptr) return method.NoStatus();
    CriticalSectionHold hold(lock_);
    if (ulDevice != 0 || ulFlags != 0) {
        Trace(TraceLevel::Error, kScope, "Internal", "FAIL: Open takes no device and no flags.",
              "ulDevice: %u, ulFlags: 0x%X", static_cast<unsigned>(ulDevice), static_cast<unsigned>(ulFlags));
        method.Fail(E_INVALIDARG, DA_STATUS_INVALID_REQUEST,
                    L"the driver-access component was opened with a device or flags; both must be 0");
    } else if (!running_) {
        Trace(TraceLevel::Error, kScope, "Internal", "FAIL: Accessor has not been started.", "");
        method.Fail(kNotRunning, DA_STATUS_NOT_RUNNING,
                    L"the driver-access component was opened before it was started");
    } else {
        open_ = true;
        ForgetTable();
    }
    *pulStatus = method.status;
    return method.hr;
}

HRESULT CTorvelAccess::Close(ULONG* pulStatus) {
    return End("CTorvelAccess::Close", open_, DA_STATUS_NOT_OPEN, pulStatus);
}

HRESULT CTorvelAccess::End(const char* scope, bool& on, ULONG notOn, ULONG* pulStatus) {
    MethodTrace method(scope, IID_IDriverServices);
    if (pulStatus == nullptr) return method.NoStatus();
    CriticalSectionHold hold(lock_);
    if (!on) {
        method.status = notOn;
        method.hr = S_FALSE;
    }
    on = open_ = false; // a stopped accessor is closed too
    ForgetTable();
    *pulStatus = method.status;
    return method.hr;
}

void CTorvelAccess::ForgetTable() {
    haveTable_ = false;
    table_.clear();
    table_.shrink_to_fit();
    tableWarning_.clear();
}

HRESULT CTorvelAccess::EnsureTable(std::wstring& why) {
    if (haveTable_) return S_OK;
    TableLoad load = CTableSource::Load();
    if (FAILED(load.hr)) {
        why = std::move(load.message);
        return load.hr;
    }
    table_ = std::move(load.table);
    tableWarning_ = std::move(load.message);
    haveTable_ = true;
    return S_OK;
}

HRESULT CTorvelAccess::Answer(const uint8_t* bytes, ULONG count, VARIANT* pvtOutput) {
    // The conversion reads the buffer only; the const_cast is for its
    // signature, which serves both directions.
    CCVariantConversion<unsigned char> conversion(const_cast<uint8_t*>(bytes), count);
    Variant answer;
    if (!conversion.FillVariant(answer.Get()) || V_VT(answer.Get()) != (VT_ARRAY | VT_VARIANT)) {
        return E_OUTOFMEMORY;
    }
    VariantClear(pvtOutput);
    answer.Detach(pvtOutput);
    return S_OK;
}

HRESULT CTorvelAccess::RawRequest(ULONG ulControlCode, VARIANT* pvtInput, ULONG ulInputSize,
                                  VARIANT* pvtOutput, ULONG ulOutputSize, VARIANT* pvtBytesReturned,
                                  ULONG* pulStatus) {
    static constexpr const char* kScope = "CTorvelAccess::RawRequest";
    MethodTrace method(kScope, IID_IDriverAccessRaw);
    Trace(TraceLevel::Verbose, kScope, "Internal", "Request", "ulControlCode: 0x%08X, ulOutputSize: %u",
          static_cast<unsigned>(ulControlCode), static_cast<unsigned>(ulOutputSize));
    if (pvtBytesReturned != nullptr) {
        VariantClear(pvtBytesReturned);
        V_VT(pvtBytesReturned) = VT_UI4;
        V_UI4(pvtBytesReturned) = 0;
    }
    if (pvtOutput == nullptr || pvtBytesReturned == nullptr || pulStatus == nullptr) {
        Trace(TraceLevel::Error, kScope, "Internal", "FAIL: Output, bytes returned and status are required.",
              "");
        method.Fail(E_POINTER, DA_STATUS_INVALID_REQUEST,
                    L"a request of the driver-access component needs an output, bytes returned and a status");
        if (pulStatus != nullptr) *pulStatus = method.status;
        return method.hr;
    }

    CriticalSectionHold hold(lock_);
    ULONG needed = 0;
    if (!running_) {
        Trace(TraceLevel::Error, kScope, "Internal", "FAIL: Accessor has not been started.", "");
        method.Fail(kNotRunning, DA_STATUS_NOT_RUNNING,
                    L"a request reached the driver-access component before it was started");
    } else if (!open_) {
        Trace(TraceLevel::Error, kScope, "Internal", "FAIL: Accessor has not been opened.", "");
        method.Fail(kNotOpen, DA_STATUS_NOT_OPEN,
                    L"a request reached the driver-access component before it was opened");
    } else if (ulControlCode != DA_IOCTL_GET_SMBIOS_SIZE && ulControlCode != DA_IOCTL_GET_SMBIOS_TABLE) {
        Trace(TraceLevel::Error, kScope, "Internal", "FAIL: Unknown control code.", "ulControlCode: 0x%08X",
              static_cast<unsigned>(ulControlCode));
        method.Fail(kUnknownCode, DA_STATUS_INVALID_REQUEST,
                    L"the driver-access component knows no request with control code " +
                        std::to_wstring(ulControlCode));
    } else if (ulControlCode == DA_IOCTL_GET_SMBIOS_SIZE && ulOutputSize != kSizeAnswerBytes) {
        needed = kSizeAnswerBytes;
    } else if (FAILED(method.hr = EnsureTable(method.why))) {
        Trace(TraceLevel::Error, kScope, "Internal", "FAIL: SMBios table not available.", "hRes: 0x%X",
              static_cast<unsigned>(method.hr));
        method.status = DA_STATUS_TABLE_UNAVAILABLE;
    } else if (ulControlCode == DA_IOCTL_GET_SMBIOS_TABLE && ulOutputSize != table_.size()) {
        needed = static_cast<ULONG>(table_.size());
    }
    if (needed != 0) {
        Trace(TraceLevel::Error, kScope, "Internal", "FAIL: Output size does not fit the answer.",
              "ulOutputSize: %u, needed: %u", static_cast<unsigned>(ulOutputSize),
              static_cast<unsigned>(needed));
        method.Fail(ulOutputSize < needed ? kOutputTooSmall : E_INVALIDARG, DA_STATUS_BAD_OUTPUT_SIZE,
                    L"the output size of the request is " + std::to_wstring(ulOutputSize) +
                        L" bytes; the answer has " + std::to_wstring(needed));
    }
    if (method.status != DA_STATUS_OK) {
        *pulStatus = method.status;
        return method.hr;
    }

    const ULONG size = static_cast<ULONG>(table_.size());
    if (ulControlCode == DA_IOCTL_GET_SMBIOS_SIZE) {
        const uint8_t le[kSizeAnswerBytes] = {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                                              static_cast<uint8_t>(size >> 16),
                                              static_cast<uint8_t>(size >> 24)};
        method.hr = Answer(le, kSizeAnswerBytes, pvtOutput);
    } else {
        method.hr = Answer(table_.data(), size, pvtOutput);
    }
    if (FAILED(method.hr)) {
        Trace(TraceLevel::Error, kScope, "Internal", "FAIL: Answer could not be built.", "hRes: 0x%X",
              static_cast<unsigned>(method.hr));
        method.Fail(method.hr, DA_STATUS_INVALID_REQUEST,
                    L"the driver-access component ran out of memory for its answer");
    } else {
        V_UI4(pvtBytesReturned) = ulOutputSize;
        method.why = tableWarning_; // a success with a warning
    }
    *pulStatus = method.status;
    return method.hr;
}

HRESULT CTorvelAccess::Initialize(BSTR featureName, BSTR featureVersion, BSTR contextName,
                                  VARIANT_BOOL* result) {
    static constexpr const char* kScope = "CTorvelAccess::Initialize";
    MethodTrace method(kScope, IID_IComponentInit);
    if (result == nullptr) return method.hr = E_POINTER;
    CriticalSectionHold hold(lock_);
    featureName_ = Narrow(featureName);
    featureVersion_ = Narrow(featureVersion);
    contextName_ = Narrow(contextName);
    Trace(TraceLevel::Verbose, kScope, "Internal", "Feature context",
          "sFeatureName: '%s', sFeatureVersion: '%s', sContextName: '%s'", featureName_.c_str(),
          featureVersion_.c_str(), contextName_.c_str());
    *result = VARIANT_TRUE;
    return S_OK;
}

HRESULT CTorvelAccess::InterfaceSupportsErrorInfo(REFIID iid) {
    return IsEqualIID(iid, IID_IDriverAccessRaw) || IsEqualIID(iid, IID_IDriverServices) ? S_OK : S_FALSE;
}
