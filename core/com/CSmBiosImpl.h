// The SMBIOS component class that clients create ("Korvix.SmBiosImpl").
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include <cstdint>

#include "Korvix.h"
#include "DriverAccess.h"
#include "common/assembly/CCAssembly.h"
#include "common/assembly/CCComponentT.h"
#include "common/conversion/CCCriticalSection.h"
#include "common/platform/ComWrappers.h"
#include "core/SmBiosTable.h"
#include "core/TypeDispatcher.h"

// Interfaces, in the order QueryInterface answers them: ISmBios (also
// IUnknown), IComponentInit, ISmBiosImpl, IDispatch (answered by
// ISmBiosImpl), IProvideClassInfo, ISupportErrorInfo. Initialize leaves
// error information for its caller: the driver-access component's reason
// for a failure it passes on (or its own), and on success the warning the
// component gave about the table, if any. The reference count is interlocked; the
// query methods take no lock, so one object must not be queried from several
// threads at once. Only Initialize is serialised.
class CSmBiosImpl : public ISmBios,
                    public CCComponentT<CCAssembly>,
                    public ISmBiosImpl,
                    public IProvideClassInfo,
                    public ISupportErrorInfo {
public:
    // Creates an object (FinalConstruct run) and asks it for `iid`; the
    // class object's CreateInstance. Aggregation is not supported.
    static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch, through the type library
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override;

    // ISmBiosImpl
    STDMETHODIMP ComponentInitialize(BSTR sFeatureName, BSTR sFeatureVersion, BSTR sContextName,
                                     VARIANT_BOOL* pRetVal) override;
    STDMETHODIMP Initialize() override;
    STDMETHODIMP GetAllInstancesOfType(unsigned char bType, VARIANT* pvAttributeNames,
                                       VARIANT* pvAttributeValues, ULONG* pulReturnValue) override;
    STDMETHODIMP GetFirstInstanceOfType(unsigned char bType, VARIANT* pvAttributeNames,
                                        VARIANT* pvAttributeValues, ULONG* pulReturnValue) override;
    STDMETHODIMP StartTypeInstanceEnum(unsigned char bType, ULONG* pulReturnValue) override;
    STDMETHODIMP GetNextTypeInstance(VARIANT* pvAttributeNames, VARIANT* pvAttributeValues,
                                     ULONG* pulReturnValue) override;
    STDMETHODIMP EnumAllInstances(UINT uiIndex, VARIANT* pvAttributeNames, VARIANT* pvAttributeValues,
                                  ULONG* pulReturnValue) override;
    STDMETHODIMP FindInstanceByHandle(USHORT usHandle, VARIANT* pvAttributeNames, VARIANT* pvAttributeValues,
                                      ULONG* pulReturnValue) override;

    // IProvideClassInfo
    STDMETHODIMP GetClassInfo(ITypeInfo** info) override;

    // ISupportErrorInfo: S_OK for ISmBiosImpl.
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override;

    // Attaches a table as a successful Initialize would, without the
    // driver-access component. Only tests call this.
    void AttachTableForTesting(const uint8_t* table, uint32_t size);

private:
    CSmBiosImpl();
    ~CSmBiosImpl();
    HRESULT FinalConstruct();
    void FinalRelease();

    // The guard of every query: false (RetVal 1 written) before Initialize.
    bool PassGuard(const char* scope, const char* leaveText, const char* leaveDetails, ULONG* pulReturnValue);
    // EnumAllInstances and FindInstanceByHandle after their lookup.
    HRESULT DecodeFound(bool found, CCSmBiosItem& item, const char* scope, const char* leaveText,
                        VARIANT* pvAttributeNames, VARIANT* pvAttributeValues, ULONG* pulReturnValue);
    // Initialize once `lock` is held; every exit leaves the lock first. A
    // conversion failure throws with the lock still held.
    class InitLockHold;
    class InitReport;
    HRESULT Acquire(InitLockHold& lock, InitReport& report);

    volatile LONG m_refs = 0;
    LONG m_initialized = 0;
    LONG m_enumStarted = 0;
    uint8_t m_enumType = 0xFF;
    CSmBiosTable m_table;
    uint8_t* m_rawBuffer = nullptr;
    ComPtr<IDriverAccessRaw> m_driverAccess;
    ComPtr<IDriverServices> m_driverServices;
    CCCriticalSection m_initLock;
    CTypeDispatcher m_dispatcher{m_table};
};
