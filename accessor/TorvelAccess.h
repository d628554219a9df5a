// The driver-access object "AcTorvel.TorvelAccess": hands out the SMBIOS
// structure table through the raw request channel.
//
// Each object is one session with its own state: Start marks it running
// (status DA_STATUS_ALREADY_RUNNING when it already was), Open opens it
// (again on an open session: a fresh start that forgets the table read so
// far), Close and Stop undo them. The table is read from its source
// (CTableSource) at the first request of an open session and kept until the
// session is closed, so that the size and the table requests of one session
// agree. The object is thread-safe and aggregates the free-threaded
// marshaler, so a pointer to it may be used from any apartment of the process.
//
// Every method of IDriverAccessRaw and IDriverServices leaves error
// information on the calling thread (ISupportErrorInfo): a failure with a
// reason the object knows (the table file's problem, the size limit, a
// folder, a failed firmware call, a call out of order) carries it as the
// description; a request that succeeds on a table with unused bytes carries
// that warning; any other success clears what an earlier call left.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "DriverAccess.h"
#include "common/assembly/ComponentInit.h"
#include "common/platform/ComObject.h"
#include "common/platform/ComWrappers.h"
#include "common/platform/CriticalSection.h"

class CTorvelAccess : public IDriverAccessRaw,
                      public IDriverServices,
                      public IComponentInit,
                      public ISupportErrorInfo,
                      public ComObjectRoot<CTorvelAccess> {
public:
    static HRESULT Create(IUnknown* outer, REFIID iid, void** ppv) { return CreateInstance(outer, iid, ppv); }

    // IUnknown; AddRef and Release come with ComInstance.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override;

    // IDriverAccessRaw
    HRESULT STDMETHODCALLTYPE RawRequest(ULONG ulControlCode, VARIANT* pvtInput, ULONG ulInputSize,
                                         VARIANT* pvtOutput, ULONG ulOutputSize, VARIANT* pvtBytesReturned,
                                         ULONG* pulStatus) override;

    // IDriverServices
    HRESULT STDMETHODCALLTYPE Open(ULONG ulDevice, ULONG ulFlags, ULONG* pulStatus) override;
    HRESULT STDMETHODCALLTYPE Close(ULONG* pulStatus) override;
    HRESULT STDMETHODCALLTYPE Start(ULONG* pulStatus) override;
    HRESULT STDMETHODCALLTYPE Stop(ULONG* pulStatus) override;

    // IComponentInit: records the feature context; always VARIANT_TRUE.
    HRESULT STDMETHODCALLTYPE Initialize(BSTR featureName, BSTR featureVersion, BSTR contextName,
                                         VARIANT_BOOL* result) override;

    // ISupportErrorInfo: S_OK for IDriverAccessRaw and IDriverServices.
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

protected:
    CTorvelAccess();
    ~CTorvelAccess();
    // Aggregates the free-threaded marshaler.
    HRESULT FinalConstruct();

private:
    // Reads the table unless this session has it; call with lock_ held. A
    // failure leaves its reason in `why`.
    HRESULT EnsureTable(std::wstring& why);
    // Drops the table this session has read; call with lock_ held.
    void ForgetTable();
    // Stop and Close: clear `on` (running_ or open_) and open_ and forget the
    // table; S_FALSE with the status `notOn` when `on` was not set.
    HRESULT End(const char* scope, bool& on, ULONG notOn, ULONG* pulStatus);
    // Writes the byte-array answer into *pvtOutput.
    static HRESULT Answer(const uint8_t* bytes, ULONG count, VARIANT* pvtOutput);

    ComPtr<IUnknown> marshaler_; // free-threaded marshaler, inner object
    CriticalSection lock_;
    bool running_ = false;
    bool open_ = false;
    bool haveTable_ = false;
    std::vector<uint8_t> table_;
    std::wstring tableWarning_; // what is odd about table_, for the client
    std::string featureName_;
    std::string featureVersion_;
    std::string contextName_;
};
