#include "AssemblyTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {
const char kCommonKey[] = "SOFTWARE\\Quarnex\\Common";
} // namespace

CommonRegistryValues::CommonRegistryValues() {
    RegKey key;
    m_keyExisted = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCommonKey, 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
    m_dependencyTables = Save("DependencyTables");
    m_componentRoot = Save("ComponentRoot");
}

CommonRegistryValues::~CommonRegistryValues() {
    Restore("DependencyTables", m_dependencyTables);
    Restore("ComponentRoot", m_componentRoot);
    if (!m_keyExisted) {
        // Fails harmlessly when something else has put values or subkeys there meanwhile.
        RegKey key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCommonKey, 0, KEY_READ, key.Put()) == ERROR_SUCCESS) {
            DWORD subkeys = 0;
            DWORD values = 0;
            RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr);
            key.Reset();
            if (subkeys == 0 && values == 0) {
                RegDeleteKeyA(HKEY_LOCAL_MACHINE, kCommonKey);
                RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarnex");
            }
        }
    }
}

CommonRegistryValues::Saved CommonRegistryValues::Save(const char* name) {
    Saved saved;
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCommonKey, 0, KEY_READ, key.Put()) != ERROR_SUCCESS) return saved;
    DWORD size = 0;
    if (RegQueryValueExA(key.Get(), name, nullptr, &saved.type, nullptr, &size) != ERROR_SUCCESS)
        return saved;
    saved.data.resize(size);
    if (RegQueryValueExA(key.Get(), name, nullptr, &saved.type, reinterpret_cast<BYTE*>(saved.data.data()),
                         &size) == ERROR_SUCCESS) {
        saved.data.resize(size);
        saved.present = true;
    }
    return saved;
}

void CommonRegistryValues::Restore(const char* name, const Saved& saved) {
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCommonKey, 0, KEY_SET_VALUE, key.Put()) != ERROR_SUCCESS) return;
    if (saved.present) {
        RegSetValueExA(key.Get(), name, 0, saved.type, reinterpret_cast<const BYTE*>(saved.data.data()),
                       static_cast<DWORD>(saved.data.size()));
    } else {
        RegDeleteValueA(key.Get(), name);
    }
}

void CommonRegistryValues::Set(const char* name, const std::string& value, DWORD type) {
    RegKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kCommonKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              key.Put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.Get(), name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1)),
              ERROR_SUCCESS);
}

void CommonRegistryValues::Remove(const char* name) {
    RegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCommonKey, 0, KEY_SET_VALUE, key.Put()) == ERROR_SUCCESS)
        RegDeleteValueA(key.Get(), name);
}

TempFolder::TempFolder() {
    char base[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, base);
    static LONG counter = 0;
    for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
        char path[MAX_PATH];
        std::snprintf(path, sizeof path, "%skorvix_asm_%lu_%ld", base, GetCurrentProcessId(),
                      InterlockedIncrement(&counter));
        if (CreateDirectoryA(path, nullptr)) m_path = path;
    }
    EXPECT_FALSE(m_path.empty());
}

TempFolder::~TempFolder() {
    if (m_path.empty()) return;
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((m_path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA((m_path + "\\" + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(m_path.c_str());
}

std::string TempFolder::Write(const std::string& name, const std::string& content) const {
    const std::string file = m_path + "\\" + name;
    UniqueHandle h(
        CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(h.Valid()) << file;
    DWORD written = 0;
    if (h.Valid()) WriteFile(h.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    EXPECT_EQ(written, content.size());
    return file;
}

void TempFolder::Delete(const std::string& name) const {
    DeleteFileA((m_path + "\\" + name).c_str());
}

namespace {
LONG SetKeyValue(HKEY root, const std::string& path, const char* name, const std::string& value) {
    RegKey key;
    LONG error =
        RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Put(), nullptr);
    if (error != ERROR_SUCCESS) return error;
    return RegSetValueExA(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
}
} // namespace

TestComponentRegistration::TestComponentRegistration() {
    EXPECT_EQ(CoCreateGuid(&m_clsid), S_OK);
    char text[64];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(m_clsid.Data1), m_clsid.Data2, m_clsid.Data3, m_clsid.Data4[0],
                  m_clsid.Data4[1], m_clsid.Data4[2], m_clsid.Data4[3], m_clsid.Data4[4], m_clsid.Data4[5],
                  m_clsid.Data4[6], m_clsid.Data4[7]);
    m_clsidText = text;
    std::snprintf(text, sizeof text, "KorvixAsmTest.C%08lX.1", static_cast<unsigned long>(m_clsid.Data1));
    m_progId = text;
    const std::string classes = "Software\\Classes\\";
    const std::string server = classes + "CLSID\\" + m_clsidText + "\\InprocServer32";
    EXPECT_EQ(SetKeyValue(HKEY_LOCAL_MACHINE, server, nullptr, ExecutableFolder() + "assembly_testcomp.dll"),
              ERROR_SUCCESS);
    EXPECT_EQ(SetKeyValue(HKEY_LOCAL_MACHINE, server, "ThreadingModel", "Both"), ERROR_SUCCESS);
    EXPECT_EQ(SetKeyValue(HKEY_LOCAL_MACHINE, classes + m_progId + "\\CLSID", nullptr, m_clsidText),
              ERROR_SUCCESS);
}

TestComponentRegistration::~TestComponentRegistration() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, ("Software\\Classes\\CLSID\\" + m_clsidText).c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, ("Software\\Classes\\" + m_progId).c_str());
}

std::string ExecutablePath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

std::string ExecutableFolder() {
    std::string path = ExecutablePath();
    return path.substr(0, path.find_last_of('\\') + 1);
}

std::string FeatureXml(const std::string& name, const std::string& version, const std::string& inner,
                       const std::string& extraAttributes) {
    return "<?xml version=\"1.0\"?>\r\n<deployment>\r\n<feature name=\"" + name + "\" version=\"" + version +
           "\"" + extraAttributes + ">\r\n" + inner + "</feature>\r\n</deployment>\r\n";
}

std::string SelfEntryXml(const std::string& context, const std::string& version,
                         const std::string& dependencies) {
    return "<context name=\"" + context + "\">\r\n<assemblyIdentity name=\"test_assembly.exe\" version=\"" +
           version + "\">\r\n<dependencies>\r\n" + dependencies +
           "</dependencies>\r\n</assemblyIdentity>\r\n</context>\r\n";
}

std::string ComDependencyXml(const std::string& name, const std::string& version, const std::string& progId,
                             const std::string& viProgId) {
    std::string xml = "<assemblyIdentity name=\"" + name + "\" version=\"" + version + "\"";
    if (!progId.empty()) xml += " progID=\"" + progId + "\"";
    if (!viProgId.empty()) xml += " versionIndependentProgID=\"" + viProgId + "\"";
    return xml + "/>\r\n";
}

std::string Narrow(BSTR s) {
    std::string out;
    for (UINT i = 0; s && i < SysStringLen(s); ++i)
        out += static_cast<char>(s[i]);
    return out;
}
