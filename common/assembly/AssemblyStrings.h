// Bounded string helpers of the component model: every narrow string it keeps
// is a fixed buffer of kAssemblyStringSize characters.
#pragma once

#include <cstddef>

// Capacity of every narrow string of the component model, terminator included.
constexpr size_t kAssemblyStringSize = 260;

// Copies `src` (null counts as empty) into `dst` of kAssemblyStringSize
// characters, cutting it at kAssemblyStringSize - 1 characters.
void AssemblyCopyString(char* dst, const char* src);

// Expands environment variables of `src` into `dst` (kAssemblyStringSize
// characters). False, with `dst` unchanged, when the expansion fails or does
// not fit; then *error holds the Win32 error code.
bool AssemblyExpandString(const char* src, char* dst, long* error);

// Reads the string value `valueName` (at most kAssemblyStringSize bytes) of
// HKEY_LOCAL_MACHINE "SOFTWARE\Quarnex\Common" into `dst` (kAssemblyStringSize + 1
// characters), terminated. Returns the registry error code, ERROR_SUCCESS
// (0) on success; a value that is not REG_SZ or REG_EXPAND_SZ gives
// ERROR_UNSUPPORTED_TYPE.
long AssemblyReadCommonValue(const char* valueName, char* dst);
