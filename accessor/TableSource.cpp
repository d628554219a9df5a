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

HRESULT LastError() {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// Reads the whole file; false with the failure in `hr` and `why`.
bool ReadWholeFile(const std::wstring& path, std::vector<uint8_t>& bytes, HRESULT& hr, const char*& why) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        hr = LastError();
        why = "the file cannot be opened";
        return false;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size)) {
        hr = LastError();
        why = "the file size cannot be read";
        return false;
    }
    if (size.QuadPart > static_cast<LONGLONG>(kMaxTableFileSize)) {
        hr = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
        why = "the file is too large for a table file";
        return false;
    }
    bytes.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got,
                      nullptr)) {
            hr = LastError();
            why = "the file cannot be read";
            return false;
        }
        if (got == 0) break; // shrank while being read
        done += got;
    }
    bytes.resize(done);
    return true;
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

HRESULT CTableSource::Load(std::vector<uint8_t>& table) {
    const std::wstring file = ConfiguredFile();
    return file.empty() ? LoadFirmware(table) : LoadFile(file, table);
}

HRESULT CTableSource::LoadFile(const std::wstring& path, std::vector<uint8_t>& table) {
    static constexpr const char* kScope = "CTableSource::LoadFile";
    const std::string name = Narrow(path);
    Trace(TraceLevel::Verbose, kScope, "Internal", "Reading SMBios table file", "file: '%s'", name.c_str());
    std::vector<uint8_t> bytes;
    HRESULT hr = S_OK;
    const char* why = "";
    if (!ReadWholeFile(path, bytes, hr, why)) {
        Trace(TraceLevel::Error, kScope, "Internal", "FAIL: SMBios table file cannot be read.",
              "file: '%s', hr: 0x%08X, %s", name.c_str(), static_cast<unsigned>(hr), why);
        return hr;
    }
    TableFileResult parsed = ParseTableFile(bytes.data(), bytes.size());
    if (!parsed.ok) {
        hr = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
        Trace(TraceLevel::Error, kScope, "Internal", "FAIL: SMBios table file holds no valid table.",
              "file: '%s', kind: %s, %s", name.c_str(), TableFileKindName(parsed.kind), parsed.error.c_str());
        return hr;
    }
    Trace(TraceLevel::Verbose, kScope, "Internal", "SMBios table file read", "file: '%s', kind: %s, size: %u",
          name.c_str(), TableFileKindName(parsed.kind), static_cast<unsigned>(parsed.table.size()));
    table = std::move(parsed.table);
    return S_OK;
}

HRESULT CTableSource::LoadFirmware(std::vector<uint8_t>& table) {
    static constexpr const char* kScope = "CTableSource::LoadFirmware";
    // The size can change between the two calls (it hardly ever does); a
    // second round copes with a table that grew.
    std::vector<uint8_t> raw;
    UINT got = 0;
    for (int round = 0; round < 2; ++round) {
        const UINT needed = GetSystemFirmwareTable(kRsmb, 0, nullptr, 0);
        if (needed == 0) {
            const HRESULT hr = LastError();
            Trace(TraceLevel::Error, kScope, "Internal", "FAIL: Firmware SMBios table not available.",
                  "hr: 0x%08X", static_cast<unsigned>(hr));
            return hr;
        }
        raw.assign(needed, 0);
        got = GetSystemFirmwareTable(kRsmb, 0, raw.data(), needed);
        if (got != 0 && got <= needed) break;
        got = 0;
    }
    if (got == 0) {
        const HRESULT hr = LastError();
        Trace(TraceLevel::Error, kScope, "Internal", "FAIL: Firmware SMBios table cannot be read.",
              "hr: 0x%08X", static_cast<unsigned>(hr));
        return hr;
    }
    TableFileResult parsed = ParseFirmwareTable(raw.data(), got);
    if (!parsed.ok) {
        Trace(TraceLevel::Error, kScope, "Internal", "FAIL: Firmware SMBios table is malformed.", "%s",
              parsed.error.c_str());
        return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    }
    Trace(TraceLevel::Verbose, kScope, "Internal", "Firmware SMBios table read", "size: %u",
          static_cast<unsigned>(parsed.table.size()));
    table = std::move(parsed.table);
    return S_OK;
}
