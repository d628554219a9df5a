#include "AssemblyExports.h"

#include "common/conversion/CCStringConversion.h"
#include "common/platform/ComWrappers.h"
#include "common/trace/Trace.h"

namespace {
// A narrow copy made through an automation string, as the host's argument
// would arrive from an automation client.
class ArgumentCopy {
public:
    explicit ArgumentCopy(const char* s)
        : m_wide(Widen(s)), m_narrow(static_cast<const wchar_t*>(m_wide.Get())) {}
    const char* Get() {
        const char* text = m_narrow.Convert2A();
        return text ? text : "";
    }

private:
    static Bstr Widen(const char* s) {
        CCStringConversion text(s ? s : "");
        const wchar_t* wide = text.Convert2W();
        return Bstr(wide ? wide : L"");
    }
    Bstr m_wide;
    CCStringConversion m_narrow;
};
} // namespace

bool AssemblyDllInitialize(CCAssembly& assembly, const char* szFeatureName, const char* szFeatureVersion,
                           const char* szContextName) {
    static const char kText[] = "Method DllInitialize has been called";
    Trace(TraceLevel::InfoCC, "DllInitialize", "Enter", kText,
          "szFeatureName: %s szFeatureVersion: %s szContextName: %s", szFeatureName ? szFeatureName : "",
          szFeatureVersion ? szFeatureVersion : "", szContextName ? szContextName : "");
    ArgumentCopy feature(szFeatureName);
    ArgumentCopy version(szFeatureVersion);
    ArgumentCopy context(szContextName);
    const bool result = assembly.DllInitialize(feature.Get(), version.Get(), context.Get());
    Trace(TraceLevel::InfoCC, "DllInitialize", "Leave", kText, "bReturn: %d", result ? 1 : 0);
    return result;
}

bool AssemblyDllUninitialize(CCAssembly& assembly) {
    static const char kText[] = "Method DllUninitialize has been called";
    Trace(TraceLevel::InfoCC, "DllUninitialize", "Enter", kText, "");
    assembly.DllUninitialize();
    Trace(TraceLevel::InfoCC, "DllUninitialize", "Leave", kText, "bReturn: %d", 1);
    return true;
}
