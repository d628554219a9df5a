#include "Registration.h"

#include <objbase.h>

#include <string>

#include "DriverAccess.h"
#include "common/platform/ComWrappers.h"
#include "common/trace/Trace.h"

namespace TorvelAccessRegistration {
namespace {

std::wstring ClsidString() {
    wchar_t text[64] = {};
    StringFromGUID2(CLSID_TorvelAccess, text, ARRAYSIZE(text));
    return text;
}

LONG SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// Creates HKCR\path and sets its default value (when given) and one named value.
LONG WriteKey(const std::wstring& path, const wchar_t* defaultValue, const wchar_t* name = nullptr,
              const wchar_t* value = nullptr) {
    RegKey key;
    LONG error = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_SET_VALUE, nullptr, key.Put(), nullptr);
    if (error == ERROR_SUCCESS && defaultValue != nullptr)
        error = SetString(key.Get(), nullptr, defaultValue);
    if (error == ERROR_SUCCESS && name != nullptr) error = SetString(key.Get(), name, value);
    return error;
}

// Removes HKCR\path with everything below it; a missing key is no error.
LONG DeleteTree(const std::wstring& path) {
    const LONG error = RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

// True when HKCR\progId\CLSID names this class.
bool ProgIdIsOurs(const wchar_t* progId, const std::wstring& clsid) {
    wchar_t value[64] = {};
    DWORD bytes = sizeof(value);
    const std::wstring path = std::wstring(progId) + L"\\CLSID";
    if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &bytes) !=
        ERROR_SUCCESS) {
        return false;
    }
    return _wcsicmp(value, clsid.c_str()) == 0;
}

} // namespace

HRESULT Register(const wchar_t* modulePath) {
    static constexpr const char* kScope = "TorvelAccessRegistration::Register";
    if (modulePath == nullptr || *modulePath == 0) return E_INVALIDARG;
    const std::wstring clsid = ClsidString();
    const std::wstring classKey = L"CLSID\\" + clsid;
    const std::wstring versioned = kVersionedProgId;
    LONG error = WriteKey(classKey, kDescription);
    if (error == ERROR_SUCCESS)
        error = WriteKey(classKey + L"\\InprocServer32", modulePath, L"ThreadingModel", L"Both");
    if (error == ERROR_SUCCESS) error = WriteKey(classKey + L"\\ProgID", kVersionedProgId);
    if (error == ERROR_SUCCESS) error = WriteKey(classKey + L"\\VersionIndependentProgID", kProgId);
    if (error == ERROR_SUCCESS) error = WriteKey(versioned, kDescription);
    if (error == ERROR_SUCCESS) error = WriteKey(versioned + L"\\CLSID", clsid.c_str());
    if (error == ERROR_SUCCESS) error = WriteKey(kProgId, kDescription);
    if (error == ERROR_SUCCESS) error = WriteKey(std::wstring(kProgId) + L"\\CLSID", clsid.c_str());
    if (error == ERROR_SUCCESS) error = WriteKey(std::wstring(kProgId) + L"\\CurVer", kVersionedProgId);
    if (error != ERROR_SUCCESS) {
        Trace(TraceLevel::Error, kScope, "Internal", "FAIL: Registry entries could not be written.",
              "error: %u", static_cast<unsigned>(error));
        Unregister();
        return HRESULT_FROM_WIN32(error);
    }
    return S_OK;
}

HRESULT Unregister() {
    static constexpr const char* kScope = "TorvelAccessRegistration::Unregister";
    const std::wstring clsid = ClsidString();
    LONG first = ERROR_SUCCESS;
    auto note = [&first](LONG error) {
        if (first == ERROR_SUCCESS) first = error;
    };
    for (const wchar_t* progId : {kVersionedProgId, kProgId}) {
        if (ProgIdIsOurs(progId, clsid)) note(DeleteTree(progId));
    }
    note(DeleteTree(L"CLSID\\" + clsid));
    if (first != ERROR_SUCCESS) {
        Trace(TraceLevel::Error, kScope, "Internal", "FAIL: Registry entries could not be removed.",
              "error: %u", static_cast<unsigned>(first));
        return HRESULT_FROM_WIN32(first);
    }
    return S_OK;
}

} // namespace TorvelAccessRegistration
