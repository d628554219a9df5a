// The stand-in driver-access component (fake_torvel_access.dll): what a test
// scripts it to answer, and what it saw. FakeAccessorControl() hands out its
// one state block; the test loads the same DLL file that COM loads, so both
// reach the same block.
#pragma once

#include <windows.h>

// The defaults give a successful acquisition of `table`.
struct FakeAccessorScript {
    LONG refuseComponentInit = 0; // IComponentInit::Initialize answers VARIANT_FALSE
    LONG withoutServices = 0;     // no IDriverServices
    HRESULT startHr = S_OK;
    ULONG startStatus = 0; // 0: this Start started the accessor
    HRESULT openHr = S_OK;
    ULONG openStatus = 0;
    // The size request.
    HRESULT sizeHr = S_OK;
    ULONG sizeStatus = 0, sizeBytesReturned = 4;
    LONG sizeValue = -1;       // -1: tableSize
    ULONG sizeAnswerBytes = 4; // elements of the answer
    LONG sizeBadElement = -1;  // an element that cannot become VT_UI1
    // The table request.
    HRESULT dataHr = S_OK;
    ULONG dataStatus = 0;
    LONG dataBytesReturned = -1, dataElements = -1; // -1: tableSize
    LONG dataBadElement = -1;
    LONG dataElementsAsI4 = 0; // VT_I4 elements (convertible)
    DWORD requestDelayMs = 0;  // each request waits this long
    ULONG tableSize = 0;
    BYTE table[32768] = {};
};

struct FakeAccessorLog {
    LONG created = 0, alive = 0, componentInits = 0;
    LONG starts = 0, stops = 0, rawRequests = 0, sizeRequests = 0, dataRequests = 0, unknownRequests = 0;
    LONG inProgress = 0, overlapping = 0; // requests that began while another ran
    ULONG openDevice = 99, openFlags = 99;
    // The requests as they arrived: input vt and size, output vt, value
    // (size request) or elements and zero bytes (table request), output size.
    VARTYPE sizeInputVt = 0xFFFF, sizeOutputVt = 0xFFFF, dataInputVt = 0xFFFF, dataOutputVt = 0xFFFF;
    ULONG sizeInputSize = 99, sizeOutputValue = 99, sizeOutputSize = 99, dataInputSize = 99,
          dataOutputSize = 99;
    LONG dataOutputElements = -1, dataOutputZeroBytes = -1;
    char feature[64] = {}, version[64] = {}, context[64] = {}; // through IComponentInit
    // One letter a call: S Start, O Open, R RawRequest, C Close, T Stop.
    char calls[256] = {};
    LONG callCount = 0;
};

struct FakeAccessorState {
    FakeAccessorScript script;
    FakeAccessorLog log;
};

using FakeAccessorControlFn = FakeAccessorState*(__cdecl*)();
