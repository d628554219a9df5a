#include "CCStringConversion.h"

#include <windows.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "common/trace/MethodScope.h"

namespace {
const char kCategoryEnter[] = "Enter";
const char kCategoryLeave[] = "Leave";
const char kCategoryInternal[] = "Internal";
const char kCreated[] = "An instance of CCStringConversion has been created.";
const char kDestroyed[] = "An instance of CCStringConversion has been destroyed.";

// Allocates and fills a copy of `src` with `count` elements of `elementSize`
// bytes (terminator included); null (with the record) when out of memory.
void* CopyOf(const void* src, size_t count, size_t elementSize, const char* scope) {
    void* copy = std::malloc(count * elementSize);
    if (!copy) {
        Trace(TraceLevel::Error, scope, kCategoryInternal, "Memory allocation error", "nSize=%d",
              static_cast<int>(count));
        return nullptr;
    }
    std::memcpy(copy, src, count * elementSize);
    return copy;
}
} // namespace

CCStringConversion::CCStringConversion(const wchar_t* szwSrc) : m_bIsWide(true) {
    static const char kScope[] = "CCStringConversion::CCStringConversion";
    Trace(TraceLevel::InfoCC, kScope, kCategoryEnter, kCreated, "szwSrc: 0x%08X",
          static_cast<unsigned>(reinterpret_cast<uintptr_t>(szwSrc)));
    if (!szwSrc) {
        Trace(TraceLevel::InfoCC, kScope, kCategoryLeave, kCreated, "");
        return;
    }
    m_pBuffer = CopyOf(szwSrc, std::wcslen(szwSrc) + 1, sizeof(wchar_t), kScope);
    if (m_pBuffer) Trace(TraceLevel::InfoCC, kScope, kCategoryLeave, kCreated, "");
}

CCStringConversion::CCStringConversion(const char* szSrc) : m_bIsWide(false) {
    static const char kScope[] = "CCStringConversion::CCStringConversion";
    Trace(TraceLevel::InfoCC, kScope, kCategoryEnter, kCreated, "szSrc: %s", szSrc ? szSrc : "(null)");
    if (!szSrc) {
        Trace(TraceLevel::InfoCC, kScope, kCategoryLeave, kCreated, "");
        return;
    }
    m_pBuffer = CopyOf(szSrc, std::strlen(szSrc) + 1, sizeof(char), kScope);
    if (m_pBuffer) Trace(TraceLevel::InfoCC, kScope, kCategoryLeave, kCreated, "");
}

CCStringConversion::~CCStringConversion() {
    static const char kScope[] = "CCStringConversion::~CCStringConversion";
    Trace(TraceLevel::InfoCC, kScope, kCategoryEnter, kDestroyed, "");
    std::free(m_pBuffer);
    m_pBuffer = nullptr;
    Trace(TraceLevel::InfoCC, kScope, kCategoryLeave, kDestroyed, "");
}

char* CCStringConversion::Convert2A() {
    static const char kScope[] = "CCStringConversion::Convert2A";
    MethodScope method(kScope, TraceLevel::InfoCC);
    char* result = nullptr;
    if (!m_pBuffer || !m_bIsWide) {
        result = static_cast<char*>(m_pBuffer);
    } else {
        const wchar_t* wide = static_cast<const wchar_t*>(m_pBuffer);
        const size_t size = std::wcslen(wide) + 1;
        char* narrow = static_cast<char*>(std::malloc(size));
        if (!narrow) {
            Trace(TraceLevel::Error, kScope, kCategoryInternal, "Memory allocation failed!", "");
        } else {
            const size_t converted = std::wcstombs(narrow, wide, size);
            bool ok = converted < size;
            if (converted == static_cast<size_t>(-1)) {
                // The "C" locale has no byte for this character: let the system
                // code page map it (best fit or its default character).
                Trace(TraceLevel::VerboseCC, kScope, kCategoryInternal,
                      "Could not convert unicode to ansi string because of unrecognized character, using "
                      "different api",
                      "");
                ok = false;
                if (size <= static_cast<size_t>(INT_MAX)) {
                    // A double-byte code page may need more than one byte a character.
                    size_t capacity = size;
                    const int needed = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
                    if (needed > 0 && static_cast<size_t>(needed) > capacity) {
                        if (char* larger = static_cast<char*>(std::realloc(narrow, needed))) {
                            narrow = larger;
                            capacity = static_cast<size_t>(needed);
                        }
                    }
                    ok = WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, static_cast<int>(capacity), nullptr,
                                             nullptr) > 0;
                }
                if (!ok)
                    Trace(TraceLevel::Error, kScope, kCategoryInternal,
                          "Error converting WCHARs to CHARs, even with WideCharToMultiByte API",
                          "GetLastError: %d", static_cast<int>(GetLastError()));
            } else if (!ok) {
                Trace(TraceLevel::Error, kScope, kCategoryInternal, "Error converting WCHARs to CHARs ", "");
            }
            if (ok) {
                std::free(m_pBuffer);
                m_pBuffer = narrow;
                m_bIsWide = false;
                result = narrow;
            } else {
                std::free(narrow);
            }
        }
    }
    return result;
}

wchar_t* CCStringConversion::Convert2W() {
    static const char kScope[] = "CCStringConversion::Convert2W";
    MethodScope method(kScope, TraceLevel::InfoCC);
    wchar_t* result = nullptr;
    if (!m_pBuffer || m_bIsWide) {
        result = static_cast<wchar_t*>(m_pBuffer);
    } else {
        const char* narrow = static_cast<const char*>(m_pBuffer);
        const size_t size = std::strlen(narrow) + 1;
        wchar_t* wide = static_cast<wchar_t*>(std::calloc(size, sizeof(wchar_t)));
        if (!wide) {
            Trace(TraceLevel::Error, kScope, kCategoryInternal, "Memory allocation failed", "");
        } else {
            const size_t converted = std::mbstowcs(wide, narrow, size);
            if (converted == static_cast<size_t>(-1) || converted >= size) {
                Trace(TraceLevel::Error, kScope, kCategoryInternal, "Failure converting CHARs to WCHARs", "");
                std::free(wide);
            } else {
                std::free(m_pBuffer);
                m_pBuffer = wide;
                m_bIsWide = true;
                result = wide;
            }
        }
    }
    return result;
}

CCStringConversion::operator const char*() {
    static const char kScope[] = "CCStringConversion::operator const char *";
    Trace(TraceLevel::InfoCC, kScope, kCategoryEnter, "Method operator LPCSTR has been entered.", "");
    Trace(TraceLevel::InfoCC, kScope, kCategoryLeave, "Method operator LPCSTR has been left.", "");
    return Convert2A();
}

CCStringConversion::operator const wchar_t*() {
    static const char kScope[] = "CCStringConversion::operator const wchar_t *";
    Trace(TraceLevel::InfoCC, kScope, kCategoryEnter, "Method operator LPCWSTR has been entered.", "");
    Trace(TraceLevel::InfoCC, kScope, kCategoryLeave, "Method operator LPCWSTR has been left.", "");
    return Convert2W();
}
