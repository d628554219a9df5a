// One attribute record as the client prints it, copied out of the component's
// VARIANT arrays so that formatting needs no COM.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class ValueKind { UI1, UI2, UI4, Bool, Text, Bytes, Unknown };

struct AttributeValue {
    ValueKind kind = ValueKind::Unknown;
    uint32_t number = 0;        // UI1, UI2, UI4 and Bool (the raw flag value)
    std::wstring text;          // Text
    std::vector<uint8_t> bytes; // Bytes
    uint16_t variantType = 0;   // the VARTYPE, kept for values of no known kind
};

struct Attribute {
    std::wstring name;
    AttributeValue value;
};

struct Record {
    // Position in the table's enumeration order, when the record came from it.
    std::optional<uint32_t> index;
    // The handle the record was looked up by, when it was.
    std::optional<uint16_t> lookedUpHandle;
    // How the component answered for the structure. Only a decoded record
    // has attributes.
    enum class Outcome {
        Decoded,
        NoDecoder,   // RetVal 4: the structure's type has no decoder
        NoAttributes // RetVal 0 with empty outputs: the decoder refused the structure
    } outcome = Outcome::Decoded;
    bool Decoded() const { return outcome == Outcome::Decoded; }
    std::vector<Attribute> attributes;

    // The numeric value of the named attribute, when present and numeric.
    std::optional<uint32_t> Number(const wchar_t* name) const {
        for (const Attribute& a : attributes)
            if (a.name == name && a.value.kind != ValueKind::Text && a.value.kind != ValueKind::Bytes &&
                a.value.kind != ValueKind::Unknown)
                return a.value.number;
        return std::nullopt;
    }
};
