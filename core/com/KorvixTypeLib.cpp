#include "KorvixTypeLib.h"

#include "common/platform/Module.h"

namespace {
struct TypeLibrary {
    ITypeLib* lib = nullptr;
    HRESULT hr = E_FAIL;
};

// Loaded at the first request and kept for the life of the module; loading
// it from the module file rather than the registry lets an unregistered copy
// work too.
const TypeLibrary& Library() {
    static const TypeLibrary loaded = [] {
        TypeLibrary t;
        const std::wstring path = ThisModulePath();
        t.hr = path.empty() ? HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME)
                            : LoadTypeLibEx(path.c_str(), REGKIND_NONE, &t.lib);
        return t;
    }();
    return loaded;
}
} // namespace

HRESULT GetKorvixTypeInfo(REFGUID guid, ITypeInfo** info) {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    const TypeLibrary& t = Library();
    if (t.lib == nullptr) return FAILED(t.hr) ? t.hr : E_FAIL;
    return t.lib->GetTypeInfoOfGuid(guid, info);
}
