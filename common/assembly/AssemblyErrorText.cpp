#include "AssemblyErrorText.h"

#include <cstring>

const char* AssemblyErrorText(HRESULT hr) {
    static thread_local char text[4096];
    DWORD code = static_cast<DWORD>(hr);
    // Win32 errors wrapped as HRESULTs are found under their plain code.
    if (HRESULT_FACILITY(hr) == FACILITY_WIN32) code = HRESULT_CODE(hr);
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    while (length > 1 && (text[length - 1] == '\r' || text[length - 1] == '\n'))
        --length;
    if (length == 0) {
        std::strcpy(text, "unknown");
    } else {
        text[length] = '\0';
    }
    return text;
}
