// Readable text for an HRESULT or Win32 error code, for the "hr: 0x%08X, '%s'"
// details of the component model's failure records.
#pragma once

#include <windows.h>

// Never null. The text lives in a per-thread buffer until the next call on
// the same thread.
const char* AssemblyErrorText(HRESULT hr);
