// One string, narrow or wide, handed out in either form. The object converts
// its own copy in place: asking for the other form replaces the buffer, so a
// pointer returned by Convert2A stays valid until Convert2W is called (and
// the other way round) or the object is destroyed.
//
// Conversions use the runtime's "C" locale, which this module never changes:
// bytes 0x00-0xFF and code units U+0000-U+00FF map onto each other one to
// one. A wide character above U+00FF is converted through the system ANSI
// code page instead (best-fit or default character).
#pragma once

class CCStringConversion {
public:
    // A null source leaves the object empty: both conversions return null.
    explicit CCStringConversion(const wchar_t* szwSrc);
    explicit CCStringConversion(const char* szSrc);
    CCStringConversion(const CCStringConversion&) = delete;
    CCStringConversion& operator=(const CCStringConversion&) = delete;
    virtual ~CCStringConversion();

    // Narrow form, or null when empty or when the conversion failed (the wide
    // copy is then kept unchanged).
    char* Convert2A();
    // Wide form, or null when empty or when the conversion failed.
    wchar_t* Convert2W();

    operator const char*();
    operator const wchar_t*();

private:
    void* m_pBuffer = nullptr;
    bool m_bIsWide = false;
};
