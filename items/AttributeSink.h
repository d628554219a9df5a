// Where a decoder puts its attribute record: one call per attribute, the
// value first and then its name, in record order.
#pragma once

#include <cstddef>
#include <cstdint>

// The value types of an attribute record. On the COM side they become
// VT_UI1, VT_UI2, VT_UI4, VT_BSTR, VT_ARRAY | VT_UI1 and VT_BOOL.
enum class ValueType : uint8_t { UI1, UI2, UI4, Text, Bytes, Bool };

struct AttributeValue {
    ValueType type = ValueType::UI1;
    uint32_t number = 0;            // UI1, UI2, UI4, Bool (the raw flag byte)
    const char* text = nullptr;     // Text: an ANSI string; null gives a null string
    const uint8_t* bytes = nullptr; // Bytes
    size_t count = 0;               // Bytes

    static AttributeValue UI1(uint32_t v) { return {ValueType::UI1, v & 0xFFu}; }
    static AttributeValue UI2(uint32_t v) { return {ValueType::UI2, v & 0xFFFFu}; }
    static AttributeValue UI4(uint32_t v) { return {ValueType::UI4, v}; }
    static AttributeValue Bool(uint32_t v) { return {ValueType::Bool, v & 0xFFu}; }
    static AttributeValue Text(const char* s) {
        AttributeValue v{ValueType::Text};
        v.text = s;
        return v;
    }
    static AttributeValue Raw(const uint8_t* p, size_t n) {
        AttributeValue v{ValueType::Bytes};
        v.bytes = p;
        v.count = n;
        return v;
    }
};

// Status codes share the HRESULT convention: 0 is success, negative values
// are failures.
using AppendResult = int32_t;

class IAttributeSink {
public:
    virtual ~IAttributeSink() = default;
    // Appends the value and then the name. `numberedName` marks names formed
    // at run time ("ExtensionByte3") as opposed to fixed literals. Returns 0
    // or the failure of the append; a failed value append still appends the
    // name.
    virtual AppendResult Append(const char* name, bool numberedName, const AttributeValue& value) = 0;
};
