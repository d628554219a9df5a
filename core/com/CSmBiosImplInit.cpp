// ComponentInitialize and Initialize: the feature context, then the raw
// table through the driver-access component.
#include "CSmBiosImpl.h"

#include <cstring>
#include <new>

#include "common/conversion/CCStringConversion.h"
#include "common/conversion/CCVariantConversion.h"
#include "common/platform/ErrorInfo.h"
#include "common/trace/MethodScope.h"

namespace {
constexpr const char* kInitScope = "CSmBiosImpl::Initialize";
constexpr DWORD kClassContext =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER; // 0x17

// An ANSI copy of a BSTR for the trace and the component model; "" for null.
class AnsiArg {
public:
    explicit AnsiArg(BSTR s) : conversion_(s != nullptr ? s : L"") {}
    const char* Get() {
        const char* a = conversion_.Convert2A();
        return a != nullptr ? a : "";
    }

private:
    CCStringConversion conversion_;
};

// What the byte-array conversion is given for an answer of the accessor: the
// answer's array by reference. The conversion keeps a copy of the VARIANT it
// is built from; for an array by value that duplicates the whole answer (16
// bytes an element), while a reference is copied as a reference. The answer
// outlives the conversion, and the conversion reads an array by reference
// like one by value. Anything but an array of VARIANT by value is passed on
// as it stands.
class AnswerView {
public:
    explicit AnswerView(VARIANT* answer) : answer_(answer) {
        VariantInit(&ref_);
        if (V_VT(answer) == (VT_ARRAY | VT_VARIANT)) {
            V_VT(&ref_) = VT_BYREF | VT_ARRAY | VT_VARIANT;
            V_ARRAYREF(&ref_) = &V_ARRAY(answer);
        }
    }
    AnswerView(const AnswerView&) = delete;
    AnswerView& operator=(const AnswerView&) = delete;
    const VARIANT* Get() const { return V_VT(&ref_) == VT_EMPTY ? answer_ : &ref_; }

private:
    VARIANT* answer_;
    VARIANT ref_; // a reference: nothing to clear
};

} // namespace

// Holds the lock from construction until Release or destruction. Declared
// after the method scope, it is left before the Leave record is written.
class CSmBiosImpl::InitLockHold {
public:
    explicit InitLockHold(CCCriticalSection& lock) : lock_(lock) { lock_.Enter(); }
    ~InitLockHold() { Release(); }
    InitLockHold(const InitLockHold&) = delete;
    InitLockHold& operator=(const InitLockHold&) = delete;
    void Release() {
        if (held_) lock_.Leave();
        held_ = false;
    }

private:
    CCCriticalSection& lock_;
    bool held_ = true;
};

// The error information Initialize leaves for its caller. The
// driver-access component's is taken off the thread right after the call
// that left it, before later calls (Close, Stop) clear it; Publish puts the
// one to keep back just before Initialize returns.
class CSmBiosImpl::InitReport {
public:
    // After a call of the driver-access component that returned `hr`.
    void TakeFrom(IUnknown* accessor, REFIID iid, HRESULT hr) {
        info_ = TakeErrorInfo(accessor, iid);
        accessorFailed_ = FAILED(hr);
    }
    // A description of Initialize's own, unless the call that failed was the
    // driver-access component's and it gave its reason.
    void Describe(const std::wstring& text) {
        if (!info_ || !accessorFailed_) info_ = MakeErrorInfo(IID_ISmBiosImpl, L"Korvix.SmBiosImpl", text);
        accessorFailed_ = true;
    }
    void Publish() { SetErrorInfo(0, info_.Get()); }

private:
    ComPtr<IErrorInfo> info_;
    bool accessorFailed_ = false;
};

namespace {
std::wstring Hex(HRESULT hr) {
    wchar_t text[16];
    swprintf(text, 16, L"0x%08X", static_cast<unsigned>(hr));
    return text;
}
} // namespace

STDMETHODIMP CSmBiosImpl::ComponentInitialize(BSTR sFeatureName, BSTR sFeatureVersion, BSTR sContextName,
                                              VARIANT_BOOL* pRetVal) {
    AnsiArg feature(sFeatureName), version(sFeatureVersion), context(sContextName);
    MethodScope method("CSmBiosImpl::ComponentInitialize", TraceLevel::Info,
                       "sFeatureName: %s, sFeatureVersion: %s, sContextName: %s", feature.Get(),
                       version.Get(), context.Get());
    const bool ok = m_assembly.Initialize(feature.Get(), version.Get(), context.Get());
    if (pRetVal != nullptr) *pRetVal = ok ? 1 : 0; // 1, not VARIANT_TRUE
    return S_OK;
}

STDMETHODIMP CSmBiosImpl::Initialize() {
    MethodScope method(kInitScope);
    InitLockHold lock(m_initLock);
    InitReport report;
    try {
        const HRESULT hr = Acquire(method, lock, report);
        report.Publish();
        return hr;
    } catch (const CCComError& error) {
        // An answer of the accessor that cannot be copied or converted. The
        // exception must not cross the COM boundary: the object stays
        // uninitialised and the next call starts over. The half-filled
        // buffer went with the unwinding, before the lock goes.
        lock.Release();
        Trace(TraceLevel::Error, kInitScope, "Internal",
              "FAIL: The answer of the accessor could not be converted.", "hr: 0x%08X",
              static_cast<unsigned>(error.Error()));
        method.Leave("hRes: 0x%X", error.Error());
        report.Describe(L"the answer of the driver-access component could not be converted (" +
                        Hex(error.Error()) + L")");
        report.Publish();
        return error.Error();
    } catch (const std::bad_alloc&) {
        // No memory for a failure's description: the failure itself still
        // reaches the caller, and the next call starts over.
        lock.Release();
        method.Leave("hRes: 0x%X", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
}

HRESULT CSmBiosImpl::Acquire(MethodScope& method, InitLockHold& lock, InitReport& report) {
    // A failed step leaves the lock, writes its message and then the Leave
    // record, before the objects of this call go. `why`: the description for
    // the caller, unless the driver-access component gave its own.
    auto fail = [&](const std::wstring& why, HRESULT hr, const char* message, unsigned leaveLevel,
                    const char* leaveDetails, unsigned detailsValue = 0) {
        report.Describe(why);
        lock.Release();
        Trace(TraceLevel::Error, kInitScope, "Internal", message, "");
        method.Leave(leaveLevel, leaveDetails, detailsValue);
        method.WriteLeave();
        return hr;
    };

    if (m_table.Buffer() != nullptr) {
        method.Leave("We have already SmBios Data - return S_OK.");
        return S_OK;
    }

    HRESULT created = S_OK;
    if (!m_driverAccess) {
        created = m_assembly.CoCreateInstance("AcTorvel.TorvelAccess", m_driverAccess.PutVoid(), nullptr,
                                              kClassContext, IID_IDriverAccessRaw);
        if (SUCCEEDED(created))
            Trace(TraceLevel::Verbose, kInitScope, "Internal",
                  "CoCreateInstance succeeded. IDriverAccessRaw loaded.", "");
        else
            Trace(TraceLevel::Error, kInitScope, "Internal",
                  "FAIL: CoCreateInstance failed. Could not get IDriverAccessRaw.", "");
    }
    if (!m_driverServices) {
        if (m_driverAccess && SUCCEEDED(m_driverAccess.As(IID_IDriverServices, m_driverServices)))
            Trace(TraceLevel::Verbose, kInitScope, "Internal", "QueryInterface succeeded. (IDriverServices)",
                  "");
        else
            Trace(TraceLevel::Error, kInitScope, "Internal", "FAIL: QueryInterface failed. (IDriverServices)",
                  "");
    }
    if (!m_driverAccess || !m_driverServices) {
        const std::wstring why =
            m_driverAccess ? L"the driver-access component does not answer IDriverServices"
                           : L"the driver-access component \"AcTorvel.TorvelAccess\" could not be created (" +
                                 Hex(created) +
                                 L"): it has to be registered and named for this feature and context in the "
                                 L"dependency table, and ComponentInitialize has to succeed first";
        return fail(why, E_FAIL, "FAIL: Could not get required interfaces.", TraceLevel::Info, "E_FAIL");
    }

    ULONG status = 0;
    HRESULT hr = m_driverServices->Start(&status);
    report.TakeFrom(m_driverServices.Get(), IID_IDriverServices, hr);
    if (FAILED(hr))
        return fail(L"the driver-access component could not be started (" + Hex(hr) + L")", hr,
                    "FAIL: Start of accessor/driver failed.", TraceLevel::Info, "hRes: 0x%X", hr);
    const bool startedHere = status == 0;

    status = 0;
    hr = m_driverServices->Open(0, 0, &status);
    report.TakeFrom(m_driverServices.Get(), IID_IDriverServices, hr);
    // Described only when it failed: a successful Initialize builds no text.
    auto notOpen = [&] {
        return L"the driver-access component could not be opened (" + Hex(hr) + L", status " +
               std::to_wstring(status) + L")";
    };
    if (FAILED(hr)) {
        method.OmitLeaveText(); // this exit's record has none
        return fail(notOpen(), hr, "FAIL: Open of accessor/driver failed.", TraceLevel::Info, "hRes: 0x%X",
                    hr);
    }
    if (status != 0)
        return fail(notOpen(), E_FAIL, "FAIL: Open of accessor/driver failed.", TraceLevel::Verbose,
                    "hRes = E_FAIL");
    Trace(TraceLevel::Verbose, kInitScope, "Internal", "Open Driver succeeded", "");

    // The size request: a byte array whose first four bytes are the size.
    Variant input, output, bytesReturned;
    output->vt = VT_UI4;
    output->ulVal = 0;
    status = 0;
    hr = m_driverAccess->RawRequest(DA_IOCTL_GET_SMBIOS_SIZE, input.Get(), 0, output.Get(), 4,
                                    bytesReturned.Get(), &status);
    report.TakeFrom(m_driverAccess.Get(), IID_IDriverAccessRaw, hr);
    Variant count;
    const bool countIsFour =
        SUCCEEDED(VariantChangeType(count.Get(), bytesReturned.Get(), 0, VT_UI4)) && count->ulVal == 4;
    if (FAILED(hr) || !countIsFour || status != 0)
        return fail(L"the driver-access component did not tell the size of the SMBIOS table (" + Hex(hr) +
                        L", status " + std::to_wstring(status) + L")",
                    FAILED(hr) ? hr : E_FAIL, "FAIL: Getting SMBios size failed.", TraceLevel::Verbose,
                    "hRes: E_FAIL");
    Trace(TraceLevel::Verbose, kInitScope, "Internal", "Getting SMBios size succeeded", "");

    uint32_t size = 0;
    {
        AnswerView view(output.Get());
        CCVariantConversion<unsigned char> answer(view.Get());
        DWORD n = 0;
        const unsigned char* bytes = answer.GetBufferPointer(&n);
        // An answer shorter than four bytes carries no size.
        if (bytes != nullptr && n >= 4)
            size = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    }
    Trace(TraceLevel::Verbose, kInitScope, "Internal", "SMBios size", "%d", static_cast<int>(size));
    if (size == 0)
        return fail(L"the driver-access component reports an SMBIOS table of 0 bytes", E_FAIL,
                    "FAIL: Block Size of SmBios Data is 0. Return E_FAIL.", TraceLevel::Info, "E_FAIL");

    // The data request, with an output of `size` zero bytes.
    bytesReturned.Put()->vt = VT_UI4;
    output.Put();
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size]());
    if (buffer == nullptr)
        return fail(L"no memory for an SMBIOS table of " + std::to_wstring(size) + L" bytes", E_OUTOFMEMORY,
                    "FAIL: Getting SMBios data failed.", TraceLevel::Verbose, "hRes: 0x%X", E_OUTOFMEMORY);
    {
        CCVariantConversion<unsigned char> request(buffer.get(), size);
        request.GetVariant(output.Get());
    }
    status = 0;
    hr = m_driverAccess->RawRequest(DA_IOCTL_GET_SMBIOS_TABLE, input.Get(), 0, output.Get(), size,
                                    bytesReturned.Get(), &status);
    report.TakeFrom(m_driverAccess.Get(), IID_IDriverAccessRaw, hr);
    const bool countIsSize =
        SUCCEEDED(VariantChangeType(count.Put(), bytesReturned.Get(), 0, VT_UI4)) && count->ulVal == size;
    if (FAILED(hr) || !countIsSize || status != 0)
        return fail(L"the driver-access component did not hand over the SMBIOS table (" + Hex(hr) +
                        L", status " + std::to_wstring(status) + L")",
                    FAILED(hr) ? hr : E_FAIL, "FAIL: Getting SMBios data failed.", TraceLevel::Verbose,
                    "hRes: 0x%X", hr);
    Trace(TraceLevel::Verbose, kInitScope, "Internal", "Getting SMBios data succeeded", "");
    bytesReturned.Put();
    {
        AnswerView view(output.Get());
        CCVariantConversion<unsigned char> answer(view.Get());
        DWORD n = 0;
        const unsigned char* bytes = answer.GetBufferPointer(&n);
        if (n != size || n == 0 || bytes == nullptr) {
            output.Put();
            return fail(L"the driver-access component's answer holds " + std::to_wstring(n) +
                            L" bytes instead of the " + std::to_wstring(size) + L" it announced",
                        E_FAIL, "FAIL: Invalid Buffer. Returning E_FAIL.", TraceLevel::Info, "E_FAIL");
        }
        std::memcpy(buffer.get(), bytes, size);
    }

    m_driverServices->Close(&status);
    if (startedHere) m_driverServices->Stop(&status);

    HRESULT result = S_OK;
    if (m_table.Attach(std::move(buffer), size)) {
        m_initialized = 1;
        Trace(TraceLevel::Verbose, kInitScope, "Internal", "Attached successfully to SMBios data block", "");
    } else {
        // No memory for the indexes: the table freed the buffer, the object
        // stays uninitialised and the next call acquires the table again.
        report.Describe(L"the SMBIOS table could not be attached");
        Trace(TraceLevel::Error, kInitScope, "Internal", "FAIL: Failed to attach to SMBios data block",
              "hRes = E_FAIL");
        result = E_FAIL;
    }
    output.Put();
    method.Leave("hRes: 0x%X", result);
    return result;
}
