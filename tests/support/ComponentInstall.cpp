#include "ComponentInstall.h"

#include <fstream>
#include <iterator>

#include "common/platform/ComWrappers.h"

namespace {
const wchar_t kCommonKey[] = L"SOFTWARE\\Quarnex\\Common";
const wchar_t kParentKey[] = L"SOFTWARE\\Quarnex";
const wchar_t kTablesValue[] = L"DependencyTables";

bool KeyExists(const wchar_t* path) {
    RegKey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

void DeleteIfEmpty(const wchar_t* path) {
    DWORD subkeys = 1, values = 1;
    {
        RegKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key.Put()) != ERROR_SUCCESS) return;
        if (RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return;
    }
    if (subkeys == 0 && values == 0) RegDeleteKeyW(HKEY_LOCAL_MACHINE, path);
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
} // namespace

std::wstring ComponentInstall::BinaryFolder() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

bool ComponentInstall::Register(const wchar_t* dll, bool on) {
    LibraryHandle module(LoadLibraryW((BinaryFolder() + L"\\" + dll).c_str()));
    if (module.Get() == nullptr) return false;
    using Entry = HRESULT(STDAPICALLTYPE*)();
    auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(
        GetProcAddress(module.Get(), on ? "DllRegisterServer" : "DllUnregisterServer")));
    return entry != nullptr && SUCCEEDED(entry());
}

ComponentInstall::ComponentInstall(const std::string& tableXml) {
    // A fresh folder for the dependency table.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"korvix-deps-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(GetTickCount());
    if (!CreateDirectoryW(folder_.c_str(), nullptr)) {
        error_ = "cannot create the dependency table folder";
        return;
    }
    const std::string xml =
        tableXml.empty() ? ReadText(std::string(KORVIX_SOURCE_DIR) + "/module/deptables/Korvix_1.05.xml")
                         : tableXml;
    if (xml.empty()) {
        error_ = "cannot read the shipped dependency table";
        return;
    }
    UniqueHandle file(CreateFileW((folder_ + L"\\Korvix_1.05.xml").c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file.Valid() ||
        !WriteFile(file.Get(), xml.data(), static_cast<DWORD>(xml.size()), &written, nullptr)) {
        error_ = "cannot write the dependency table";
        return;
    }
    file.Reset();

    RegKey key;
    createdParent_ = !KeyExists(kParentKey);
    DWORD disposition = 0;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kCommonKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(),
                        &disposition) != ERROR_SUCCESS) {
        error_ = "cannot open the common key";
        return;
    }
    createdCommon_ = disposition == REG_CREATED_NEW_KEY;
    wchar_t saved[1024];
    DWORD size = sizeof saved, type = 0;
    if (RegQueryValueExW(key.Get(), kTablesValue, nullptr, &type, reinterpret_cast<BYTE*>(saved), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ) {
        hadTables_ = true;
        savedTables_.assign(saved, size / sizeof(wchar_t));
        while (!savedTables_.empty() && savedTables_.back() == L'\0')
            savedTables_.pop_back();
    }
    RegSetValueExW(key.Get(), kTablesValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder_.c_str()),
                   static_cast<DWORD>((folder_.size() + 1) * sizeof(wchar_t)));

    registeredAccessor_ = Register(L"TorvelAccess.dll", true);
    registeredKorvix_ = Register(L"Korvix.dll", true);
    if (!registeredAccessor_ || !registeredKorvix_) error_ = "registration failed";
}

ComponentInstall::~ComponentInstall() {
    if (registeredKorvix_) Register(L"Korvix.dll", false);
    if (registeredAccessor_) Register(L"TorvelAccess.dll", false);
    RegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCommonKey, 0, KEY_ALL_ACCESS, key.Put()) == ERROR_SUCCESS) {
        if (hadTables_)
            RegSetValueExW(key.Get(), kTablesValue, 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(savedTables_.c_str()),
                           static_cast<DWORD>((savedTables_.size() + 1) * sizeof(wchar_t)));
        else
            RegDeleteValueW(key.Get(), kTablesValue);
    }
    // Keys this install created go again, unless something else was put in them.
    if (createdCommon_) DeleteIfEmpty(kCommonKey);
    if (createdParent_) DeleteIfEmpty(kParentKey);
    if (!folder_.empty()) {
        DeleteFileW((folder_ + L"\\Korvix_1.05.xml").c_str());
        RemoveDirectoryW(folder_.c_str());
    }
}
