// The stand-in driver-access component (fake_torvel_access.dll): what a test
// scripts it to answer, and what it saw. FakeAccessorControl() hands out its
// one state block; the test loads the same DLL file that COM loads.
#pragma once

#include <windows.h>

// The defaults give a successful acquisition of `table`.
struct FakeAccessorScript {
    LONG refuseComponentInit = 0, withoutServices = 0;
    HRESULT startHr = S_OK, openHr = S_OK, sizeHr = S_OK, dataHr = S_OK;
    ULONG startStatus = 0, openStatus = 0, sizeStatus = 0, dataStatus = 0;
    ULONG sizeBytesReturned = 4, sizeAnswerBytes = 4;               // answer array elements
    LONG sizeValue = -1, dataBytesReturned = -1, dataElements = -1; // -1: tableSize
    LONG sizeBadElement = -1, dataBadElement = -1;                  // an element that cannot become a byte
    LONG dataElementsAsI4 = 0;
    DWORD requestDelayMs = 0;
    ULONG tableSize = 0;
    BYTE table[32768] = {};
};

struct FakeAccessorLog {
    LONG created = 0, alive = 0, starts = 0, rawRequests = 0, dataRequests = 0;
    LONG inProgress = 0, overlapping = 0; // requests that began while another ran
    char calls[256] = {};                 // a letter a call: S Start, O Open, R RawRequest, C Close, T Stop
    LONG callCount = 0;
    char session[512] = {}; // Open's arguments, the requests and the feature context as they arrived
};

struct FakeAccessorState {
    FakeAccessorScript script;
    FakeAccessorLog log;
};

using FakeAccessorControlFn = FakeAccessorState*(__cdecl*)();
