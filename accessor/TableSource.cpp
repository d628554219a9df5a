#include "TableSource.h"

#include "TableFile.h"
#include "common/platform/ComWrappers.h"
#include "common/trace/Trace.h"

namespace {

constexpr DWORD kRsmb = 0x52534D42; // 'RSMB'

// Narrow form of a file name for trace records.
std::string Narrow(const std::wstring& s) {
    if (s.empty()) return {};
    const int n =
        WideCharToMultiByte(CP_ACP, 0, s.c_str(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, s.c_str(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
    return out;
}

DWORD LastError() {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

std::wstring Widen(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

// The system's text for a Win32 error, without the line end; the number when
// the system has none.
std::wstring SystemText(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text(n > 0 && buffer != nullptr ? buffer : L"", n > 0 && buffer != nullptr ? n : 0);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    return text.empty() ? L"error " + std::to_wstring(error) : text;
}

std::wstring FileName(const std::wstring& path) {
    return L"the table file \"" + path + L"\"";
}

// The failure of a file operation: its HRESULT and the text for the client;
// `why`, the short form for the trace.
TableLoad FileFailure(const std::wstring& path, const wchar_t* what, DWORD error, const char*& why,
                      const char* shortWhy) {
    why = shortWhy;
    TableLoad load;
    load.hr = HRESULT_FROM_WIN32(error);
    load.message = FileName(path) + L" " + what + L": " + SystemText(error);
    return load;
}

// Reads the whole file; a failed load when it cannot.
TableLoad ReadWholeFile(const std::wstring& path, const char*& why) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        TableLoad load =
            FileFailure(path, L"cannot be opened", LastError(), why, "the file cannot be opened");
        // Opening a folder fails with "access denied", which sends people
        // looking for a permission problem.
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            load.message = L"\"" + path + L"\" is a folder, not a table file";
        return load;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size))
        return FileFailure(path, L"has no size", LastError(), why, "the file size cannot be read");
    if (size.QuadPart > static_cast<LONGLONG>(kMaxTableFileSize)) {
        TableLoad load;
        why = "the file is too large for a table file";
        load.hr = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
        load.message = FileName(path) + L" has " + std::to_wstring(size.QuadPart) +
                       L" bytes, more than the limit for a table file, " + Widen(TableFileSizeLimitText());
        return load;
    }
    TableLoad load;
    std::vector<uint8_t>& bytes = load.table;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got,
                      nullptr))
            return FileFailure(path, L"cannot be read", LastError(), why, "the file cannot be read");
        if (got == 0) break; // shrank while being read
        done += got;
    }
    bytes.resize(done);
    return load;
}

} // namespace

std::wstring CTableSource::ConfiguredFile() {
    wchar_t value[MAX_PATH * 2];
    const DWORD n = GetEnvironmentVariableW(kEnvironmentVariable, value, ARRAYSIZE(value));
    if (n > 0 && n < ARRAYSIZE(value)) return value;
    if (n >= ARRAYSIZE(value)) {
        std::wstring longer(n, L'\0');
        const DWORD m = GetEnvironmentVariableW(kEnvironmentVariable, &longer[0], n);
        if (m > 0 && m < n) return longer.substr(0, m);
    }

    // RRF_RT_REG_SZ also admits REG_EXPAND_SZ, which comes back expanded.
    std::wstring path(MAX_PATH, L'\0');
    for (int round = 0; round < 3; ++round) {
        DWORD bytes = static_cast<DWORD>(path.size() * sizeof(wchar_t));
        const LONG error = RegGetValueW(HKEY_LOCAL_MACHINE, kRegistryKey, kRegistryValue, RRF_RT_REG_SZ,
                                        nullptr, &path[0], &bytes);
        if (error == ERROR_SUCCESS) {
            path.resize(wcsnlen(path.c_str(), path.size()));
            return path;
        }
        if (error != ERROR_MORE_DATA) break;
        path.assign(bytes / sizeof(wchar_t) + 1, L'\0');
    }
    return {};
}

TableLoad CTableSource::Load() {
    const std::wstring file = ConfiguredFile();
    return file.empty() ? LoadFirmware() : LoadFile(file);
}

TableLoad CTableSource::LoadFile(const std::wstring& path) {
    static constexpr const char* kScope = "CTableSource::LoadFile";
    const std::string name = Narrow(path);
    Trace(TraceLevel::Verbose, kScope, "Internal", "Reading SMBios table file", "file: '%s'", name.c_str());
    const char* why = "";
    TableLoad load = ReadWholeFile(path, why);
    if (FAILED(load.hr)) {
        Trace(TraceLevel::Error, kScope, "Internal", "FAIL: SMBios table file cannot be read.",
              "file: '%s', hr: 0x%08X, %s", name.c_str(), static_cast<unsigned>(load.hr), why);
        return load;
    }
    TableFileResult parsed = ParseTableFile(load.table.data(), load.table.size());
    load.table.clear();
    const std::wstring kind = Widen(TableFileKindName(parsed.kind));
    if (!parsed.ok) {
        load.hr = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
        load.message =
            FileName(path) + L" holds no SMBIOS table (read as " + kind + L"): " + Widen(parsed.error);
        Trace(TraceLevel::Error, kScope, "Internal", "FAIL: SMBios table file holds no valid table.",
              "file: '%s', kind: %s, %s", name.c_str(), TableFileKindName(parsed.kind), parsed.error.c_str());
        return load;
    }
    Trace(TraceLevel::Verbose, kScope, "Internal", "SMBios table file read", "file: '%s', kind: %s, size: %u",
          name.c_str(), TableFileKindName(parsed.kind), static_cast<unsigned>(parsed.table.size()));
    if (!parsed.warning.empty()) {
        load.message = FileName(path) + L" (" + kind + L"): " + Widen(parsed.warning);
        Trace(TraceLevel::Warning, kScope, "Internal", "SMBios table file has unused bytes", "file: '%s', %s",
              name.c_str(), parsed.warning.c_str());
    }
    load.table = std::move(parsed.table);
    return load;
}

TableLoad CTableSource::LoadFirmware() {
    static constexpr const char* kScope = "CTableSource::LoadFirmware";
    TableLoad load;
    // The size can change between the two calls (it hardly ever does); a
    // second round copes with a table that grew.
    std::vector<uint8_t> raw;
    UINT got = 0;
    for (int round = 0; round < 2 && got == 0; ++round) {
        const UINT needed = GetSystemFirmwareTable(kRsmb, 0, nullptr, 0);
        if (needed == 0) break;
        raw.assign(needed, 0);
        got = GetSystemFirmwareTable(kRsmb, 0, raw.data(), needed);
        if (got > needed) got = 0;
    }
    if (got == 0) {
        const DWORD error = LastError();
        load.hr = HRESULT_FROM_WIN32(error);
        load.message =
            L"the firmware SMBIOS table cannot be read (GetSystemFirmwareTable): " + SystemText(error);
        Trace(TraceLevel::Error, kScope, "Internal", "FAIL: Firmware SMBios table cannot be read.",
              "hr: 0x%08X", static_cast<unsigned>(load.hr));
        return load;
    }
    TableFileResult parsed = ParseFirmwareTable(raw.data(), got);
    if (!parsed.ok) {
        load.hr = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
        load.message = L"the firmware SMBIOS table is malformed: " + Widen(parsed.error);
        Trace(TraceLevel::Error, kScope, "Internal", "FAIL: Firmware SMBios table is malformed.", "%s",
              parsed.error.c_str());
        return load;
    }
    Trace(TraceLevel::Verbose, kScope, "Internal", "Firmware SMBios table read", "size: %u",
          static_cast<unsigned>(parsed.table.size()));
    if (!parsed.warning.empty()) load.message = L"the firmware SMBIOS table: " + Widen(parsed.warning);
    load.table = std::move(parsed.table);
    return load;
}
