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
#include "common/platform/ComObject.h"
#include "common/platform/ComWrappers.h"
#include "core/SmBiosTable.h"
#include "core/TypeDispatcher.h"

class MethodScope;

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
                    public ISupportErrorInfo,
                    public ComObjectRoot<CSmBiosImpl> {
public:
    // IUnknown; AddRef and Release come with ComInstance, CreateInstance
    // with ComObjectRoot.
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;

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

protected:
    CSmBiosImpl();
    HRESULT FinalConstruct();
    void FinalRelease();

private:
    // What every query checks first: its pointers (E_POINTER, without a
    // Leave record), then the guard (E_FAIL and RetVal 1 before Initialize).
    // S_OK lets it go on.
    template <class... Outputs>
    HRESULT Admit(MethodScope& method, ULONG* pulReturnValue, Outputs*... outputs);
    // EnumAllInstances and FindInstanceByHandle: Admit, then the structure
    // that `find` copies into an item, decoded.
    template <class Find>
    HRESULT DecodeFound(MethodScope& method, Find find, VARIANT* pvAttributeNames, VARIANT* pvAttributeValues,
                        ULONG* pulReturnValue);
    // Initialize once `lock` is held; every exit leaves the lock before its
    // Leave record. A conversion failure throws with the lock still held.
    class InitLockHold;
    class InitReport;
    HRESULT Acquire(MethodScope& method, InitLockHold& lock, InitReport& report);

    LONG m_initialized = 0;
    LONG m_enumStarted = 0;
    uint8_t m_enumType = 0xFF;
    CSmBiosTable m_table; // owns the raw table once Initialize succeeded
    ComPtr<IDriverAccessRaw> m_driverAccess;
    ComPtr<IDriverServices> m_driverServices;
    CCCriticalSection m_initLock;
    CTypeDispatcher m_dispatcher{m_table};
};
