// fake_torvel_access.dll: a driver-access component whose answers each test
// scripts (FakeAccessor.h). Its class object answers for any class id, so a
// test registers it under a fresh CLSID and ProgID of its own.
#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "../../support/StaticClassFactory.h"
#include "DriverAccess.h"
#include "FakeAccessor.h"
#include "common/assembly/ComponentInit.h"

namespace {

FakeAccessorState g_state;

// Notes the call's letter and answers with `statusValue` and `hr`.
HRESULT Step(char call, ULONG* status, ULONG statusValue, HRESULT hr) {
    const LONG at = InterlockedIncrement(&g_state.log.callCount) - 1;
    if (at < static_cast<LONG>(sizeof g_state.log.calls) - 1) g_state.log.calls[at] = call;
    *status = statusValue;
    return hr;
}

void Log(const char* format, ...) {
    char* session = g_state.log.session;
    const size_t used = strlen(session);
    va_list args;
    va_start(args, format);
    vsnprintf(session + used, sizeof g_state.log.session - used, format, args);
    va_end(args);
}

// A VARIANT vector of `count` bytes (VT_UI1, or VT_I4 when `asI4`); element
// `bad` holds a VT_I4 of 300, which does not fit a byte.
template <class ByteAt> void PutBytes(VARIANT* out, ULONG count, LONG bad, bool asI4, ByteAt byteAt) {
    VariantClear(out);
    out->vt = VT_ARRAY | VT_VARIANT;
    out->parray = SafeArrayCreateVector(VT_VARIANT, 0, count);
    for (LONG i = 0; out->parray != nullptr && i < static_cast<LONG>(count); ++i) {
        VARIANT e;
        e.vt = i == bad || asI4 ? VT_I4 : VT_UI1;
        if (e.vt == VT_I4)
            e.lVal = i == bad ? 300 : byteAt(i);
        else
            e.bVal = byteAt(i);
        SafeArrayPutElement(out->parray, &i, &e);
    }
}

void PutCount(VARIANT* out, ULONG count) {
    VariantClear(out);
    out->vt = VT_UI4;
    out->ulVal = count;
}

class FakeAccessor : public IDriverAccessRaw, public IDriverServices, public IComponentInit {
public:
    FakeAccessor() {
        InterlockedIncrement(&g_state.log.created);
        InterlockedIncrement(&g_state.log.alive);
    }
    virtual ~FakeAccessor() { InterlockedDecrement(&g_state.log.alive); }

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

    HRESULT STDMETHODCALLTYPE Initialize(BSTR feature, BSTR version, BSTR context,
                                         VARIANT_BOOL* result) override {
        Log("init %ls,%ls,%ls; ", feature, version, context);
        *result = g_state.script.refuseComponentInit ? VARIANT_FALSE : VARIANT_TRUE;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Open(ULONG device, ULONG flags, ULONG* status) override {
        Log("open %lu,%lu; ", device, flags);
        return Step('O', status, g_state.script.openStatus, g_state.script.openHr);
    }
    HRESULT STDMETHODCALLTYPE Close(ULONG* status) override { return Step('C', status, 0, S_OK); }
    HRESULT STDMETHODCALLTYPE Start(ULONG* status) override {
        InterlockedIncrement(&g_state.log.starts);
        return Step('S', status, g_state.script.startStatus, g_state.script.startHr);
    }
    HRESULT STDMETHODCALLTYPE Stop(ULONG* status) override { return Step('T', status, 0, S_OK); }

    HRESULT STDMETHODCALLTYPE RawRequest(ULONG code, VARIANT* input, ULONG inputSize, VARIANT* output,
                                         ULONG outputSize, VARIANT* bytesReturned, ULONG* status) override {
        Step('R', status, DA_STATUS_INVALID_REQUEST, S_OK);
        FakeAccessorLog& log = g_state.log;
        const FakeAccessorScript& script = g_state.script;
        InterlockedIncrement(&log.rawRequests);
        if (InterlockedIncrement(&log.inProgress) > 1) InterlockedIncrement(&log.overlapping);
        Sleep(script.requestDelayMs);
        const ULONG size = script.tableSize;
        HRESULT hr = E_INVALIDARG;
        if (code == DA_IOCTL_GET_SMBIOS_SIZE) {
            Log("size in vt%u/%lu out vt%u=%lu/%lu; ", input->vt, inputSize, output->vt,
                output->vt == VT_UI4 ? output->ulVal : 99, outputSize);
            const ULONG value = script.sizeValue < 0 ? size : static_cast<ULONG>(script.sizeValue);
            PutBytes(output, script.sizeAnswerBytes, script.sizeBadElement, false,
                     [value](LONG i) { return i < 4 ? static_cast<BYTE>(value >> (8 * i)) : BYTE(0); });
            PutCount(bytesReturned, script.sizeBytesReturned);
            *status = script.sizeStatus;
            hr = script.sizeHr;
        } else if (code == DA_IOCTL_GET_SMBIOS_TABLE) {
            InterlockedIncrement(&log.dataRequests);
            LONG elements = -1, zeros = 0; // the output should be table-size zero bytes
            if (output->vt == (VT_ARRAY | VT_VARIANT))
                elements = LONG(output->parray->rgsabound[0].cElements);
            for (LONG i = 0; i < elements; ++i) {
                VARIANT e;
                VariantInit(&e);
                SafeArrayGetElement(output->parray, &i, &e);
                zeros += e.vt == VT_UI1 && e.bVal == 0;
                VariantClear(&e);
            }
            Log("table in vt%u/%lu out vt%u %ld bytes (%ld zero)/%lu; ", input->vt, inputSize, output->vt,
                elements, zeros, outputSize);
            PutBytes(output, script.dataElements < 0 ? size : static_cast<ULONG>(script.dataElements),
                     script.dataBadElement, script.dataElementsAsI4 != 0, [size](LONG i) {
                         return static_cast<ULONG>(i) < size ? g_state.script.table[i] : BYTE(0);
                     });
            PutCount(bytesReturned,
                     script.dataBytesReturned < 0 ? size : static_cast<ULONG>(script.dataBytesReturned));
            *status = script.dataStatus;
            hr = script.dataHr;
        } else {
            Log("unknown request; ");
        }
        InterlockedDecrement(&log.inProgress);
        return hr;
    }

private:
    std::atomic<ULONG> refs_{1};
};

StaticClassFactory<FakeAccessor> g_factory;

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
