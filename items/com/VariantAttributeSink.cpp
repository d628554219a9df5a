#include "VariantAttributeSink.h"

#include <cstring>

#include "common/conversion/CCStringConversion.h"

namespace {
// Widens an ANSI string byte by byte as the "C" locale does; used for the
// fixed attribute names, which are plain ASCII literals.
BSTR WidenLiteral(const char* s) {
    const size_t n = std::strlen(s);
    BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(n));
    if (b != nullptr)
        for (size_t i = 0; i < n; ++i)
            b[i] = static_cast<unsigned char>(s[i]);
    return b;
}

} // namespace

HRESULT VariantAttributeSink::MakeValue(const AttributeValue& value, VARIANT& out) {
    VariantInit(&out);
    switch (value.type) {
    case ValueType::UI1:
        out.vt = VT_UI1;
        out.bVal = static_cast<BYTE>(value.number);
        return S_OK;
    case ValueType::UI2:
        out.vt = VT_UI2;
        out.uiVal = static_cast<USHORT>(value.number);
        return S_OK;
    case ValueType::UI4:
        out.vt = VT_UI4;
        out.ulVal = value.number;
        return S_OK;
    case ValueType::Bool:
        // The raw flag byte, so that 1 stays 1 rather than VARIANT_TRUE.
        out.vt = VT_BOOL;
        out.boolVal = static_cast<VARIANT_BOOL>(value.number);
        return S_OK;
    case ValueType::Text: {
        out.vt = VT_BSTR;
        out.bstrVal = nullptr;
        if (value.text == nullptr) return S_OK;
        CCStringConversion wide(value.text);
        const wchar_t* w = wide.Convert2W();
        // Widening fails only for want of memory: the value stays a null
        // string and the record reports the failure.
        if (w == nullptr) return E_OUTOFMEMORY;
        out.bstrVal = SysAllocString(w);
        return out.bstrVal != nullptr || *w == L'\0' ? S_OK : E_OUTOFMEMORY;
    }
    case ValueType::Bytes: {
        SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(value.count));
        if (array == nullptr) return E_OUTOFMEMORY;
        if (value.count > 0) std::memcpy(array->pvData, value.bytes, value.count);
        out.vt = VT_ARRAY | VT_UI1;
        out.parray = array;
        return S_OK;
    }
    }
    return E_INVALIDARG;
}

HRESULT VariantAttributeSink::MakeName(const char* name, bool numbered, VARIANT& out) {
    VariantInit(&out);
    out.vt = VT_BSTR;
    if (numbered) {
        CCStringConversion wide(name);
        const wchar_t* w = wide.Convert2W();
        out.bstrVal = w != nullptr ? SysAllocString(w) : nullptr;
    } else {
        out.bstrVal = WidenLiteral(name);
    }
    return out.bstrVal != nullptr ? S_OK : E_OUTOFMEMORY;
}

AppendResult VariantAttributeSink::Append(const char* name, bool numberedName, const AttributeValue& value) {
    HRESULT result = S_OK;
    VARIANT* slot = values_.Add();
    const HRESULT hrValue = slot != nullptr ? MakeValue(value, *slot) : E_OUTOFMEMORY;
    if (FAILED(hrValue)) result = hrValue;
    slot = names_.Add();
    const HRESULT hrName = slot != nullptr ? MakeName(name, numberedName, *slot) : E_OUTOFMEMORY;
    if (FAILED(hrName)) result = hrName;
    return result;
}

HRESULT VariantAttributeSink::HandOver(VARIANT* names, VARIANT* values) {
    const HRESULT hrNames = names_.MoveInto(names);
    const HRESULT hrValues = values_.MoveInto(values);
    return FAILED(hrNames) ? hrNames : hrValues;
}
