// Self-registration of a COM server: registration scripts (REGISTRY
// resources of the module) applied by the platform's registrar, with
// replacement variables.
#pragma once

#include <windows.h>

#include <vector>
#include <string>
#include <utility>

#include "common/platform/ComWrappers.h"
#include "common/platform/Registrar.h"

// What registering needs for its duration: the thread locale set to the
// system default (2048), COM initialised on the thread, the module's path
// and a registrar that knows the variables "Module" (the path in quotation
// marks), "Module_Raw" (the path), "MODULETYPE" ("LocalServer32" for an
// executable, else "InprocServer32") and the caller's.
class ScriptRegistration {
public:
    using Variables = std::vector<std::pair<const wchar_t*, std::wstring>>;

    explicit ScriptRegistration(const Variables& variables);
    ScriptRegistration(const ScriptRegistration&) = delete;
    ScriptRegistration& operator=(const ScriptRegistration&) = delete;

    // S_OK, or why the path or the registrar could not be set up.
    HRESULT Status() const { return status_; }
    const std::wstring& ModulePath() const { return path_; }

    // Applies the module's script resource `id` in register or unregister mode.
    HRESULT Register(UINT id);
    HRESULT Unregister(UINT id);

private:
    class ThreadLocale {
    public:
        explicit ThreadLocale(LCID lcid) : saved_(GetThreadLocale()) { SetThreadLocale(lcid); }
        ~ThreadLocale() { SetThreadLocale(saved_); }

    private:
        LCID saved_;
    };

    ThreadLocale locale_;
    ComApartment apartment_{COINIT_APARTMENTTHREADED};
    std::wstring path_;
    ComPtr<IRegistrar> registrar_;
    HRESULT status_ = S_OK;
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
std::wstring GuidText(REFGUID guid);
// Removes HKEY_CLASSES_ROOT\key with everything below it, which a script in
// unregister mode leaves where others added subkeys; a missing key is no error.
HRESULT RemoveClassesKey(const std::wstring& key);
