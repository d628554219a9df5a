// fake_torvel_access.dll: a driver-access component whose answers each test
// scripts (FakeAccessor.h). Its class object answers for any class id, so a
// test registers it under a fresh CLSID and ProgID of its own.
#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <cstring>
#include <new>

#include "DriverAccess.h"
#include "FakeAccessor.h"
#include "common/assembly/ComponentInit.h"

namespace {

FakeAccessorState g_state;

void Note(char call) {
    const LONG at = InterlockedIncrement(&g_state.log.callCount) - 1;
    if (at >= 0 && at < static_cast<LONG>(sizeof g_state.log.calls) - 1) g_state.log.calls[at] = call;
}

void CopyNarrow(char (&to)[64], BSTR from) {
    size_t i = 0;
    for (; from != nullptr && i < SysStringLen(from) && i + 1 < sizeof to; ++i)
        to[i] = static_cast<char>(from[i]);
    to[i] = 0;
}

// A byte array of `count` elements: `byteAt(i)` as VT_UI1 (or VT_I4), except
// element `bad`, which holds a VT_I4 that does not fit into a byte.
template <class ByteAt> void PutByteArray(VARIANT* out, ULONG count, LONG bad, bool asI4, ByteAt byteAt) {
    VariantClear(out);
    SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 0, count);
    if (psa == nullptr) return;
    for (LONG i = 0; i < static_cast<LONG>(count); ++i) {
        VARIANT element;
        VariantInit(&element);
        if (i == bad) {
            element.vt = VT_I4;
            element.lVal = 300;
        } else if (asI4) {
            element.vt = VT_I4;
            element.lVal = byteAt(i);
        } else {
            element.vt = VT_UI1;
            element.bVal = byteAt(i);
        }
        SafeArrayPutElement(psa, &i, &element);
    }
    out->vt = VT_ARRAY | VT_VARIANT;
    out->parray = psa;
}

void PutCount(VARIANT* out, ULONG count) {
    if (out == nullptr) return;
    VariantClear(out);
    out->vt = VT_UI4;
    out->ulVal = count;
}

// Counts the elements of a byte-array VARIANT and those that are VT_UI1 0.
void Inspect(const VARIANT* v, LONG& elements, LONG& zeros) {
    elements = -1;
    zeros = -1;
    if (v == nullptr || v->vt != (VT_ARRAY | VT_VARIANT) || v->parray == nullptr) return;
    elements = static_cast<LONG>(v->parray->rgsabound[0].cElements);
    zeros = 0;
    for (LONG i = 0; i < elements; ++i) {
        VARIANT element;
        VariantInit(&element);
        if (SUCCEEDED(SafeArrayGetElement(v->parray, &i, &element)) && element.vt == VT_UI1 &&
            element.bVal == 0)
            ++zeros;
        VariantClear(&element);
    }
}

class FakeAccessor : public IDriverAccessRaw, public IDriverServices, public IComponentInit {
public:
    FakeAccessor() {
        InterlockedIncrement(&g_state.log.created);
        InterlockedIncrement(&g_state.log.alive);
    }
    virtual ~FakeAccessor() { InterlockedDecrement(&g_state.log.alive); }

    // IUnknown (through IDriverAccessRaw)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDriverAccessRaw)
            *ppv = static_cast<IDriverAccessRaw*>(this);
        else if (riid == IID_IDriverServices && !g_state.script.withoutServices)
            *ppv = static_cast<IDriverServices*>(this);
        else if (riid == __uuidof(IComponentInit))
            *ppv = static_cast<IComponentInit*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    // IComponentInit
    HRESULT STDMETHODCALLTYPE Initialize(BSTR feature, BSTR version, BSTR context,
                                         VARIANT_BOOL* result) override {
        InterlockedIncrement(&g_state.log.componentInits);
        CopyNarrow(g_state.log.feature, feature);
        CopyNarrow(g_state.log.version, version);
        CopyNarrow(g_state.log.context, context);
        if (result != nullptr) *result = g_state.script.refuseComponentInit ? VARIANT_FALSE : VARIANT_TRUE;
        return S_OK;
    }

    // IDriverServices
    HRESULT STDMETHODCALLTYPE Open(ULONG device, ULONG flags, ULONG* status) override {
        Note('O');
        InterlockedIncrement(&g_state.log.opens);
        g_state.log.openDevice = device;
        g_state.log.openFlags = flags;
        if (status != nullptr) *status = g_state.script.openStatus;
        return g_state.script.openHr;
    }
    HRESULT STDMETHODCALLTYPE Close(ULONG* status) override {
        Note('C');
        InterlockedIncrement(&g_state.log.closes);
        if (status != nullptr) *status = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Start(ULONG* status) override {
        Note('S');
        InterlockedIncrement(&g_state.log.starts);
        if (status != nullptr) *status = g_state.script.startStatus;
        return g_state.script.startHr;
    }
    HRESULT STDMETHODCALLTYPE Stop(ULONG* status) override {
        Note('T');
        InterlockedIncrement(&g_state.log.stops);
        if (status != nullptr) *status = 0;
        return S_OK;
    }

    // IDriverAccessRaw
    HRESULT STDMETHODCALLTYPE RawRequest(ULONG code, VARIANT* input, ULONG inputSize, VARIANT* output,
                                         ULONG outputSize, VARIANT* bytesReturned, ULONG* status) override {
        Note('R');
        FakeAccessorLog& log = g_state.log;
        const FakeAccessorScript& script = g_state.script;
        InterlockedIncrement(&log.rawRequests);
        if (InterlockedIncrement(&log.requestsInProgress) > 1) InterlockedIncrement(&log.overlappingRequests);
        if (script.requestDelayMs != 0) Sleep(script.requestDelayMs);
        HRESULT hr = S_OK;
        const ULONG tableSize = script.tableSize;
        if (code == DA_IOCTL_GET_SMBIOS_SIZE) {
            InterlockedIncrement(&log.sizeRequests);
            log.sizeInputVt = input != nullptr ? input->vt : 0xFFFF;
            log.sizeInputSize = inputSize;
            log.sizeOutputVt = output != nullptr ? output->vt : 0xFFFF;
            log.sizeOutputValue = output != nullptr && output->vt == VT_UI4 ? output->ulVal : 99;
            log.sizeOutputSize = outputSize;
            const ULONG size = script.sizeValue < 0 ? tableSize : static_cast<ULONG>(script.sizeValue);
            if (output != nullptr)
                PutByteArray(output, script.sizeAnswerBytes, script.sizeBadElement, false,
                             [size](LONG i) { return i < 4 ? static_cast<BYTE>(size >> (8 * i)) : BYTE(0); });
            PutCount(bytesReturned, script.sizeBytesReturned);
            if (status != nullptr) *status = script.sizeStatus;
            hr = script.sizeHr;
        } else if (code == DA_IOCTL_GET_SMBIOS_TABLE) {
            InterlockedIncrement(&log.dataRequests);
            log.dataInputVt = input != nullptr ? input->vt : 0xFFFF;
            log.dataInputSize = inputSize;
            log.dataOutputVt = output != nullptr ? output->vt : 0xFFFF;
            Inspect(output, log.dataOutputElements, log.dataOutputZeroBytes);
            log.dataOutputSize = outputSize;
            const ULONG elements =
                script.dataElements < 0 ? tableSize : static_cast<ULONG>(script.dataElements);
            if (output != nullptr)
                PutByteArray(output, elements, script.dataBadElement, script.dataElementsAsI4 != 0,
                             [tableSize](LONG i) {
                                 return static_cast<ULONG>(i) < tableSize ? g_state.script.table[i] : BYTE(0);
                             });
            PutCount(bytesReturned,
                     script.dataBytesReturned < 0 ? tableSize : static_cast<ULONG>(script.dataBytesReturned));
            if (status != nullptr) *status = script.dataStatus;
            hr = script.dataHr;
        } else {
            InterlockedIncrement(&log.unknownRequests);
            if (status != nullptr) *status = DA_STATUS_INVALID_REQUEST;
            hr = E_INVALIDARG;
        }
        InterlockedDecrement(&log.requestsInProgress);
        return hr;
    }

private:
    std::atomic<ULONG> refs_{1};
};

class Factory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        FakeAccessor* object = new (std::nothrow) FakeAccessor;
        if (object == nullptr) return E_OUTOFMEMORY;
        const HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

} // namespace

extern "C" FakeAccessorState* __cdecl FakeAccessorControl() {
    return &g_state;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID riid, void** ppv) {
    return g_factory.QueryInterface(riid, ppv);
}

// Stays loaded: the tests hold the state block through their own handle.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return S_FALSE;
}
