// String values read back as stored (a REG_EXPAND_SZ where a REG_SZ is due does not pass), and a
// key below HKEY_LOCAL_MACHINE whose values are put back at the end.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

// The REG_SZ value `name` (null: the default value) of HKEY_CLASSES_ROOT\path, if there is one.
inline std::optional<std::wstring> ReadSz(const std::wstring& path, const wchar_t* name = nullptr) {
    wchar_t value[2048];
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, value,
                     &size) != 0)
        return std::nullopt;
    return std::wstring(value);
}

inline bool KeyExists(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    const bool exists = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (exists) RegCloseKey(key);
    return exists;
}

// HKEY_LOCAL_MACHINE\path, created when missing. Values set or removed through it get their
// earlier state back at the end; then the keys it created go, as far as nothing else is in them.
class HklmKey {
public:
    explicit HklmKey(const std::string& path) : path_(path) {
        for (size_t at = 0; created_.empty() && at != std::string::npos;) {
            at = path.find('\\', at + 1);
            if (!KeyExists(HKEY_LOCAL_MACHINE,
                           std::wstring(path.begin(), path.begin() + std::min(at, path.size()))))
                created_ = path.substr(0, at);
        }
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                        nullptr);
    }
    ~HklmKey() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
            if (it->present)
                RegSetValueExA(key_, it->name.c_str(), 0, it->type, it->data.data(), DWORD(it->data.size()));
            else
                RegDeleteValueA(key_, it->name.c_str());
        RegCloseKey(key_);
        for (std::string key = path_; !created_.empty() && key.size() >= created_.size();
             key.resize(key.rfind('\\')))
            if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str()) != ERROR_SUCCESS) break;
    }
    HklmKey(const HklmKey&) = delete;
    HklmKey& operator=(const HklmKey&) = delete;

    bool Set(const char* name, DWORD type, const void* data, DWORD size) {
        Remove(name);
        return RegSetValueExA(key_, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
    }
    bool SetDword(const char* name, DWORD value) { return Set(name, REG_DWORD, &value, sizeof value); }
    bool SetString(const char* name, const std::string& value, DWORD type = REG_SZ) {
        return Set(name, type, value.c_str(), static_cast<DWORD>(value.size() + 1));
    }
    void Remove(const char* name) {
        Saved& saved = saved_.emplace_back(Saved{name});
        DWORD size = 0;
        if (RegQueryValueExA(key_, name, nullptr, &saved.type, nullptr, &size) == ERROR_SUCCESS) {
            saved.data.resize(size);
            saved.present = RegQueryValueExA(key_, name, nullptr, nullptr, saved.data.data(), &size) == 0;
        }
        RegDeleteValueA(key_, name);
    }

private:
    struct Saved {
        std::string name;
        DWORD type = 0;
        bool present = false;
        std::vector<BYTE> data;
    };
    std::string path_, created_; // created_: the outermost key that did not exist before
    HKEY key_ = nullptr;
    std::vector<Saved> saved_;
};
