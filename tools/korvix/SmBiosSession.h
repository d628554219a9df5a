// The client's one component object: created by ProgID, given its feature
// context, initialised, then asked for records. Nothing here prints.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "Korvix.h"
#include "Record.h"
#include "common/platform/ComWrappers.h"

// The RetVals of the query methods.
enum QueryResult : ULONG {
    kFound = 0,
    kNotInitialized = 1,
    kEnumNotStarted = 2,
    kNotFound = 3,
    kNoDecoder = 4,
    // Not RetVals of the component: its answer could not be read as records;
    // it had no memory for the answer (RetVal 3 with E_OUTOFMEMORY, which
    // must not read as "nothing there").
    kMalformedAnswer = 0xFFFFFFFFu,
    kOutOfMemory = 0xFFFFFFFEu,
};

class SmBiosSession {
public:
    // CLSIDFromProgID and CoCreateInstance; their failure code, else S_OK.
    HRESULT Create(const std::wstring& progId);
    // ComponentInitialize; true when the component reported success.
    bool ComponentInitialize(const std::wstring& feature, const std::wstring& version,
                             const std::wstring& context, HRESULT& hr);
    // Initialize; `message` receives the description the component left: why
    // it failed, or on success a warning about the table (empty for none).
    HRESULT Initialize(std::wstring& message);

    // EnumAllInstances(index). A found record carries its index (or the
    // handle it was looked up by); a structure without decoder, or one its
    // decoder refused, comes back as a record without attributes.
    ULONG RecordAt(uint32_t index, Record& record, HRESULT& hr);
    ULONG RecordByHandle(uint16_t handle, Record& record, HRESULT& hr);
    ULONG RecordsOfType(uint8_t type, std::vector<Record>& records, HRESULT& hr);

private:
    ULONG Single(bool byIndex, uint32_t key, Record& record, HRESULT& hr);

    ComPtr<ISmBiosImpl> object_;
};
