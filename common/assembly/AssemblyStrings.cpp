#include "AssemblyStrings.h"

#include <windows.h>

#include <cstring>

#include "common/platform/ComWrappers.h"

void AssemblyCopyString(char* dst, const char* src) {
    if (!src) src = "";
    const size_t length = strnlen(src, kAssemblyStringSize - 1);
    std::memcpy(dst, src, length);
    dst[length] = '\0';
}

bool AssemblyExpandString(const char* src, char* dst, long* error) {
    char expanded[kAssemblyStringSize] = {};
    const DWORD needed = ExpandEnvironmentStringsA(src ? src : "", expanded, kAssemblyStringSize);
    if (needed == 0) {
        *error = static_cast<long>(GetLastError());
        return false;
    }
    if (needed > kAssemblyStringSize) {
        *error = ERROR_INSUFFICIENT_BUFFER;
        return false;
    }
    AssemblyCopyString(dst, expanded);
    return true;
}

long AssemblyReadCommonValue(const char* valueName, char* dst) {
    dst[0] = '\0';
    RegKey key;
    LONG error =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarnex\\Common", 0, KEY_QUERY_VALUE, key.Put());
    if (error != ERROR_SUCCESS) return error;
    DWORD type = 0;
    DWORD size = kAssemblyStringSize;
    error = RegQueryValueExA(key.Get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(dst), &size);
    if (error == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) error = ERROR_UNSUPPORTED_TYPE;
    // Stored strings need not be terminated; the buffer has one byte to spare.
    dst[error == ERROR_SUCCESS && size <= kAssemblyStringSize ? size : 0] = '\0';
    return error;
}
