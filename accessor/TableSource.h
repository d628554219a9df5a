// Where the accessor takes the SMBIOS structure table from: a table file when
// one is configured, the firmware otherwise.
//
// The table file is named by the environment variable KORVIX_SMBIOS_TABLE
// (per process; an empty value counts as unset) or else by the REG_SZ value
// "SmBiosTableFile" under HKEY_LOCAL_MACHINE\SOFTWARE\Quarnex\Common\TorvelAccess
// (REG_EXPAND_SZ is expanded). The firmware table comes from
// GetSystemFirmwareTable('RSMB', 0) without its RawSMBIOSData header.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// The outcome of reading the table. `message` is for the client: why there is
// no table when hr is a failure, otherwise what is odd about the table (bytes
// that no structure uses, no end-of-table structure) or empty.
struct TableLoad {
    HRESULT hr = S_OK;
    std::vector<uint8_t> table;
    std::wstring message;
};

class CTableSource {
public:
    static constexpr const wchar_t* kEnvironmentVariable = L"KORVIX_SMBIOS_TABLE";
    static constexpr const wchar_t* kRegistryKey = L"SOFTWARE\\Quarnex\\Common\\TorvelAccess";
    static constexpr const wchar_t* kRegistryValue = L"SmBiosTableFile";

    // The configured table file; empty when the firmware is to be read.
    static std::wstring ConfiguredFile();
    // The table from the configured source. Failures are traced and returned:
    // the Win32 error of an unreadable file or firmware interface,
    // HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE) for a file over the limit,
    // HRESULT_FROM_WIN32(ERROR_INVALID_DATA) for content without a table.
    static TableLoad Load();
    static TableLoad LoadFile(const std::wstring& path);
    static TableLoad LoadFirmware();
};
