#include "KorvixTypeLib.h"

#include <mutex>

#include "common/platform/ComWrappers.h"

HMODULE KorvixModuleHandle() {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(reinterpret_cast<const void*>(&KorvixModuleHandle), &info, sizeof info) == 0)
        return nullptr;
    return static_cast<HMODULE>(info.AllocationBase);
}

namespace {
// The library stays loaded for the life of the module; loading it from the
// module file rather than the registry lets an unregistered copy work too.
ITypeLib* LoadLibraryOnce(HRESULT& hr) {
    static std::once_flag once;
    static ITypeLib* lib = nullptr;
    static HRESULT loaded = E_FAIL;
    std::call_once(once, [] {
        wchar_t path[MAX_PATH];
        const DWORD n = GetModuleFileNameW(KorvixModuleHandle(), path, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) {
            loaded = HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME);
            return;
        }
        loaded = LoadTypeLibEx(path, REGKIND_NONE, &lib);
    });
    hr = loaded;
    return lib;
}
} // namespace

HRESULT GetKorvixTypeInfo(REFGUID guid, ITypeInfo** info) {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    HRESULT hr = S_OK;
    ITypeLib* lib = LoadLibraryOnce(hr);
    if (lib == nullptr) return FAILED(hr) ? hr : E_FAIL;
    return lib->GetTypeInfoOfGuid(guid, info);
}
