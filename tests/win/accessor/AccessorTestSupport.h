// Helpers for the driver-access tests: table files in the temp folder, the
// environment variable and registry value that select a table file, and one
// raw request with its results.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "DriverAccess.h"
#include "TableBuilder.h"
#include "common/platform/ComWrappers.h"

std::wstring Wide(const std::string& s);

// A file with the given content in the temp folder, deleted at the end.
class TempTableFile {
public:
    explicit TempTableFile(const Bytes& content);
    ~TempTableFile();
    TempTableFile(const TempTableFile&) = delete;
    TempTableFile& operator=(const TempTableFile&) = delete;
    const std::wstring& Path() const { return path_; }

private:
    std::wstring path_;
};

// Sets (or, with nullptr, removes) KORVIX_SMBIOS_TABLE for this process and
// puts the previous value back at the end.
class TableFileVariable {
public:
    explicit TableFileVariable(const wchar_t* value);
    ~TableFileVariable();
    TableFileVariable(const TableFileVariable&) = delete;
    TableFileVariable& operator=(const TableFileVariable&) = delete;

private:
    bool had_ = false;
    std::wstring old_;
};

// Sets the "SmBiosTableFile" registry value; removes it at the end, and the
// keys on its path that this object created.
class TableFileRegistryValue {
public:
    explicit TableFileRegistryValue(const std::wstring& path, DWORD type = REG_SZ);
    ~TableFileRegistryValue();
    TableFileRegistryValue(const TableFileRegistryValue&) = delete;
    TableFileRegistryValue& operator=(const TableFileRegistryValue&) = delete;
    bool Written() const { return written_; }

private:
    std::vector<std::wstring> created_; // deepest last
    bool written_ = false;
};

struct RawAnswer {
    HRESULT hr = E_UNEXPECTED;
    ULONG status = 0xFFFFFFFF;
    VARTYPE bytesReturnedType = VT_EMPTY;
    ULONG bytesReturned = 0;
    VARTYPE outputType = VT_EMPTY;
    Bytes bytes; // the output converted back to bytes
};

// One RawRequest with an empty input, the output VARIANT prepared the way a
// client does it (VT_UI4 0 for the size, a zeroed byte array otherwise).
RawAnswer Request(IDriverAccessRaw* raw, ULONG code, ULONG outputSize);
// Size request (output size 4) and the size it answered, little endian.
RawAnswer RequestSize(IDriverAccessRaw* raw, ULONG* size);

// Start and Open, asserting their results.
void StartAndOpen(IDriverServices* services);

// The table as the accessor answers it: Start, Open, size, data, Close, Stop.
// Empty with a failure in `hr` when any step fails.
Bytes ReadTable(IDriverAccessRaw* raw, HRESULT* hr = nullptr);

std::string RealTable(const std::string& name);
