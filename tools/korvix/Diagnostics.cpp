#include "Diagnostics.h"

#include <cstdio>

#include "common/platform/ComWrappers.h"

namespace {

const wchar_t kCommonKey[] = L"SOFTWARE\\Quarnex\\Common";
const wchar_t kTablesValue[] = L"DependencyTables";

std::wstring MessageText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (n > 0 && buffer != nullptr) text.assign(buffer, n);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    return text;
}

} // namespace

std::string Printable(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text)
        out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return out;
}

std::string DescribeHResult(HRESULT hr) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
    std::wstring text = MessageText(static_cast<DWORD>(hr));
    // Some systems know a Win32 error only by its plain code.
    if (text.empty() && HRESULT_FACILITY(hr) == FACILITY_WIN32) text = MessageText(HRESULT_CODE(hr));
    return text.empty() ? std::string(code) : std::string(code) + " (" + Printable(text) + ")";
}

std::string DescribeDependencyTable(const std::wstring& feature, const std::wstring& version) {
    const std::string where = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quarnex\\Common, value \"DependencyTables\"";
    const std::string file = Printable(feature) + "_" + Printable(version) + ".xml";
    RegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCommonKey, 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS)
        return "the registry key of " + where +
               " does not exist; install the component (it names the folder "
               "that holds " +
               file + ")";
    wchar_t raw[MAX_PATH * 2] = {};
    DWORD size = sizeof raw - sizeof(wchar_t), type = 0;
    if (RegQueryValueExW(key.Get(), kTablesValue, nullptr, &type, reinterpret_cast<BYTE*>(raw), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return where + " is missing; it must name the folder that holds " + file;
    wchar_t expanded[MAX_PATH * 2] = {};
    const DWORD n = ExpandEnvironmentStringsW(raw, expanded, ARRAYSIZE(expanded));
    std::wstring folder = n > 0 && n <= ARRAYSIZE(expanded) ? expanded : raw;
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();
    const std::wstring path = folder + L"\\" + feature + L"_" + version + L".xml";
    const std::string shown = where + " = \"" + Printable(folder) + "\"";
    if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES)
        return shown + ", but that folder does not exist";
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return shown + ", but " + Printable(path) + " does not exist";
    return shown + "; " + Printable(path) +
           " exists but could not be used (is it well-formed XML for this feature?)";
}
