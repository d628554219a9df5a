#include "Format.h"

#include <cstdio>

#include "meanings/Meaning.h"

namespace {

std::string Hex(uint32_t value, int digits) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%0*X", digits, static_cast<unsigned>(value));
    return buffer;
}

std::string Number(uint32_t value, int digits) {
    return std::to_string(value) + " (" + Hex(value, digits) + ")";
}

// A quoted string; printable ASCII stays, everything else becomes \xNN
// (up to 0xFF) or \uNNNN.
std::string Quoted(const std::wstring& text) {
    std::string out = "\"";
    for (wchar_t c : text) {
        const unsigned u = static_cast<unsigned>(c) & 0xFFFFu;
        char buffer[8];
        if (u == '"' || u == '\\') {
            out += '\\';
            out += static_cast<char>(u);
        } else if (u >= 0x20 && u < 0x7F) {
            out += static_cast<char>(u);
        } else {
            std::snprintf(buffer, sizeof buffer, u <= 0xFF ? "\\x%02X" : "\\u%04X", u);
            out += buffer;
        }
    }
    return out + "\"";
}

} // namespace

std::string FormatTextValue(const AttributeValue& value) {
    switch (value.kind) {
    case ValueKind::UI1:
        return Number(value.number, 2);
    case ValueKind::UI2:
        return Number(value.number, 4);
    case ValueKind::UI4:
        return Number(value.number, 8);
    case ValueKind::Bool:
        // The decoders hand the flag byte over unchanged; show that byte.
        return Number(value.number, value.number > 0xFF ? 4 : 2);
    case ValueKind::Text:
        return Quoted(value.text);
    case ValueKind::Bytes: {
        std::string out = "[";
        char buffer[4];
        for (size_t i = 0; i < value.bytes.size(); ++i) {
            std::snprintf(buffer, sizeof buffer, i == 0 ? "%02X" : " %02X", value.bytes[i]);
            out += buffer;
        }
        return out + "]";
    }
    case ValueKind::Unknown:
        break;
    }
    return "<value of VARIANT type " + Hex(value.variantType, 4) + ">";
}

std::string FormatTextRecord(const Record& record, Meanings meanings) {
    if (!record.Decoded()) {
        std::string where = "Structure";
        if (record.index)
            where += " at index " + std::to_string(*record.index);
        else if (record.lookedUpHandle)
            where += " with handle " + Hex(*record.lookedUpHandle, 4);
        return where + (record.outcome == Record::Outcome::NoDecoder
                            ? ": type without decoder (RetVal 4)\n\n"
                            : ": the decoder refused the structure (RetVal 0, no attributes)\n\n");
    }
    std::string out;
    const auto type = record.Number(L"Type");
    const auto handle = record.Number(L"Handle");
    out += "Type " + (type ? std::to_string(*type) : std::string("?"));
    out += ", handle " + (handle ? Hex(*handle, 4) : std::string("?"));
    if (record.index) out += " (index " + std::to_string(*record.index) + ")";
    out += '\n';
    for (size_t i = 0; i < record.attributes.size(); ++i) {
        const Attribute& attribute = record.attributes[i];
        out += "    ";
        // Names are ASCII; anything else is escaped like string values.
        for (wchar_t c : attribute.name)
            out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
        out += " = " + FormatTextValue(attribute.value);
        const Meaning m = meanings == Meanings::Add ? RecordMeaning(record, i) : Meaning{};
        if (m.form == Meaning::Form::Text) out += ": " + m.text;
        if (m.form == Meaning::Form::List && m.items.empty()) out += ": no bit set";
        if (m.form == Meaning::Form::List && !m.items.empty()) out += ":";
        out += "\n";
        for (const std::string& item : m.items)
            out += "        " + item + "\n";
    }
    return out + "\n";
}
