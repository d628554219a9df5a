// The stand-in driver-access component of the acquisition tests
// (fake_torvel_access.dll): what a test scripts it to answer, and what it
// saw. The DLL exports FakeAccessorControl(), which hands out its one state
// block; the test loads the same DLL file that COM loads, so both reach the
// same block. A test writes the script before it calls Initialize and reads
// the log afterwards.
#pragma once

#include <windows.h>

// Answers of the accessor. The defaults give a successful acquisition of
// `table`.
struct FakeAccessorScript {
    // IComponentInit::Initialize answers VARIANT_FALSE (with S_OK).
    LONG refuseComponentInit = 0;
    // QueryInterface for IDriverServices fails.
    LONG withoutServices = 0;

    HRESULT startHr = S_OK;
    ULONG startStatus = 0; // 0: this Start started the accessor
    HRESULT openHr = S_OK;
    ULONG openStatus = 0;

    // The size request (0xA9000004).
    HRESULT sizeHr = S_OK;
    ULONG sizeStatus = 0;
    ULONG sizeBytesReturned = 4;
    LONG sizeValue = -1;       // the size reported; -1: tableSize
    ULONG sizeAnswerBytes = 4; // elements of the answer array
    LONG sizeBadElement = -1;  // index of an element that cannot become VT_UI1

    // The table request (0xA9000008).
    HRESULT dataHr = S_OK;
    ULONG dataStatus = 0;
    LONG dataBytesReturned = -1; // -1: tableSize
    LONG dataElements = -1;      // elements of the answer array; -1: tableSize
    LONG dataBadElement = -1;    // index of an element that cannot become VT_UI1
    LONG dataElementsAsI4 = 0;   // answer with VT_I4 elements (convertible)

    // Each RawRequest waits this long before it answers.
    DWORD requestDelayMs = 0;

    ULONG tableSize = 0;
    BYTE table[32768] = {};
};

// What the accessor saw.
struct FakeAccessorLog {
    LONG created = 0; // objects created
    LONG alive = 0;   // objects not yet destroyed
    LONG componentInits = 0;
    LONG starts = 0, opens = 0, closes = 0, stops = 0;
    LONG rawRequests = 0, sizeRequests = 0, dataRequests = 0;
    LONG unknownRequests = 0;
    LONG requestsInProgress = 0;
    LONG overlappingRequests = 0; // a request that began while another ran
    ULONG openDevice = 99, openFlags = 99;

    // The size request as it arrived.
    VARTYPE sizeInputVt = 0xFFFF;
    ULONG sizeInputSize = 99;
    VARTYPE sizeOutputVt = 0xFFFF;
    ULONG sizeOutputValue = 99;
    ULONG sizeOutputSize = 99;
    // The table request as it arrived.
    VARTYPE dataInputVt = 0xFFFF;
    ULONG dataInputSize = 99;
    VARTYPE dataOutputVt = 0xFFFF;
    LONG dataOutputElements = -1;
    LONG dataOutputZeroBytes = -1; // elements that were VT_UI1 0
    ULONG dataOutputSize = 99;

    // The feature context handed over through IComponentInit.
    char feature[64] = {}, version[64] = {}, context[64] = {};

    // One letter per call, in order: S Start, O Open, R RawRequest,
    // C Close, T Stop (halT).
    char calls[256] = {};
    LONG callCount = 0;
};

struct FakeAccessorState {
    FakeAccessorScript script;
    FakeAccessorLog log;
};

using FakeAccessorControlFn = FakeAccessorState*(__cdecl*)();
