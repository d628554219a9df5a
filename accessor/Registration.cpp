#include "Registration.h"

#include <string>

#include "DriverAccess.h"
#include "common/platform/ScriptRegistration.h"
#include "common/trace/Trace.h"

namespace TorvelAccessRegistration {
namespace {

constexpr UINT kScript = 101;

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

// The registry's error code of a failure, where it has one.
unsigned ErrorCode(HRESULT hr) {
    return static_cast<unsigned>(HRESULT_FACILITY(hr) == FACILITY_WIN32 ? HRESULT_CODE(hr) : hr);
}

} // namespace

HRESULT Register() {
    const HRESULT hr = ScriptRegistration({}).Register(kScript);
    if (FAILED(hr)) {
        Trace(TraceLevel::Error, "TorvelAccessRegistration::Register", "Internal",
              "FAIL: Registry entries could not be written.", "error: %u", ErrorCode(hr));
        Unregister();
    }
    return hr;
}

// A script in unregister mode cannot tell whether a ProgID still names this
// class, so the keys are removed here.
HRESULT Unregister() {
    const std::wstring clsid = GuidText(CLSID_TorvelAccess);
    HRESULT first = S_OK;
    auto note = [&first](HRESULT hr) {
        if (SUCCEEDED(first)) first = hr;
    };
    for (const wchar_t* progId : {kVersionedProgId, kProgId}) {
        if (ProgIdIsOurs(progId, clsid)) note(RemoveClassesKey(progId));
    }
    note(RemoveClassesKey(L"CLSID\\" + clsid));
    if (FAILED(first)) {
        Trace(TraceLevel::Error, "TorvelAccessRegistration::Unregister", "Internal",
              "FAIL: Registry entries could not be removed.", "error: %u", ErrorCode(first));
    }
    return first;
}

} // namespace TorvelAccessRegistration
