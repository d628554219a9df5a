#include "ScriptRegistration.h"

#include <shellapi.h>

#include "common/platform/Module.h"

namespace {
constexpr LCID kSystemDefaultLocale = 2048;

HRESULT LastError() {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
}
} // namespace

ScriptRegistration::ScriptRegistration(const Variables& variables)
    : locale_(kSystemDefaultLocale), path_(ThisModulePath()) {
    if (path_.empty()) {
        status_ = LastError();
        return;
    }
    status_ = CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IRegistrar,
                               registrar_.PutVoid());
    const bool executable = SHGetFileInfoW(path_.c_str(), 0, nullptr, 0, SHGFI_EXETYPE) != 0;
    const std::pair<const wchar_t*, std::wstring> module[] = {
        {L"Module", L"\"" + path_ + L"\""},
        {L"Module_Raw", path_},
        {L"MODULETYPE", executable ? L"LocalServer32" : L"InprocServer32"},
    };
    for (const auto& v : module)
        if (SUCCEEDED(status_)) status_ = registrar_->AddReplacement(v.first, v.second.c_str());
    for (const auto& v : variables)
        if (SUCCEEDED(status_)) status_ = registrar_->AddReplacement(v.first, v.second.c_str());
}

HRESULT ScriptRegistration::Register(UINT id) {
    if (FAILED(status_)) return status_;
    return registrar_->ResourceRegister(path_.c_str(), id, L"REGISTRY");
}

HRESULT ScriptRegistration::Unregister(UINT id) {
    if (FAILED(status_)) return status_;
    return registrar_->ResourceUnregister(path_.c_str(), id, L"REGISTRY");
}

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

HRESULT RemoveClassesKey(const std::wstring& key) {
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}
