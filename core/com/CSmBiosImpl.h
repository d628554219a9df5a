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
// ISmBiosImpl), IProvideClassInfo. The objects are ComInstance<CSmBiosImpl>
// (interlocked reference count); the query methods take no lock, so one
// object must not be queried from several threads at once. Only Initialize
// is serialised.
class CSmBiosImpl : public ISmBios,
                    public CCComponentT<CCAssembly>,
                    public ISmBiosImpl,
                    public IProvideClassInfo,
                    public ComObjectRoot {
public:
    // Creates an object (FinalConstruct run) and asks it for `iid`; the
    // class object's CreateInstance. Aggregation is not supported.
    static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) {
        return ComInstance<CSmBiosImpl>::Create(outer, iid, object);
    }

    // IUnknown; AddRef and Release come with ComInstance.
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

    // Attaches a table as a successful Initialize would, without the
    // driver-access component. Only tests call this.
    void AttachTableForTesting(const uint8_t* table, uint32_t size);

protected:
    CSmBiosImpl();
    HRESULT FinalConstruct();
    void FinalRelease();

private:
    // The guard of every query: false (RetVal 1 written, the Leave record
    // set) before Initialize.
    bool PassGuard(MethodScope& method, ULONG* pulReturnValue);
    // EnumAllInstances and FindInstanceByHandle after their lookup.
    HRESULT DecodeFound(MethodScope& method, bool found, CCSmBiosItem& item, VARIANT* pvAttributeNames,
                        VARIANT* pvAttributeValues, ULONG* pulReturnValue);
    // Initialize once `lock` is held; every exit leaves the lock before its
    // Leave record. A conversion failure throws with the lock still held.
    class InitLockHold;
    HRESULT Acquire(MethodScope& method, InitLockHold& lock);

    LONG m_initialized = 0;
    LONG m_enumStarted = 0;
    uint8_t m_enumType = 0xFF;
    CSmBiosTable m_table; // owns the raw table once Initialize succeeded
    ComPtr<IDriverAccessRaw> m_driverAccess;
    ComPtr<IDriverServices> m_driverServices;
    CCCriticalSection m_initLock;
    CTypeDispatcher m_dispatcher{m_table};
};
