#include "Format.h"

#include <cstdio>

#include "meanings/Meaning.h"

namespace {

const char* TypeName(ValueKind kind) {
    switch (kind) {
    case ValueKind::UI1:
        return "ui1";
    case ValueKind::UI2:
        return "ui2";
    case ValueKind::UI4:
        return "ui4";
    case ValueKind::Bool:
        return "bool";
    case ValueKind::Text:
        return "string";
    case ValueKind::Bytes:
        return "bytes";
    case ValueKind::Unknown:
        break;
    }
    return "unknown";
}

std::string JsonValue(const AttributeValue& value) {
    switch (value.kind) {
    case ValueKind::UI1:
    case ValueKind::UI2:
    case ValueKind::UI4:
    case ValueKind::Bool:
        return std::to_string(value.number);
    case ValueKind::Text:
        return JsonString(value.text);
    case ValueKind::Bytes: {
        std::string out = "[";
        for (size_t i = 0; i < value.bytes.size(); ++i) {
            if (i > 0) out += ",";
            out += std::to_string(value.bytes[i]);
        }
        return out + "]";
    }
    case ValueKind::Unknown:
        break;
    }
    return "null";
}

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

std::string OptionalNumber(const std::optional<uint32_t>& n) {
    return n ? std::to_string(*n) : std::string("null");
}

} // namespace

std::string JsonString(const std::wstring& text) {
    std::string out = "\"";
    for (wchar_t c : text) {
        const unsigned u = static_cast<unsigned>(c) & 0xFFFFu;
        switch (u) {
        case '"':
            out += "\\\"";
            continue;
        case '\\':
            out += "\\\\";
            continue;
        case '\n':
            out += "\\n";
            continue;
        case '\r':
            out += "\\r";
            continue;
        case '\t':
            out += "\\t";
            continue;
        default:
            break;
        }
        if (u >= 0x20 && u < 0x7F) {
            out += static_cast<char>(u);
        } else {
            // UTF-16 code units map one to one onto \u escapes, surrogate
            // pairs included.
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04X", u);
            out += buffer;
        }
    }
    return out + "\"";
}

std::string FormatJsonRecord(const Record& record, Meanings meanings) {
    std::string out = "{";
    if (record.index) out += "\"index\": " + std::to_string(*record.index) + ", ";
    out += "\"type\": " + OptionalNumber(record.Decoded() ? record.Number(L"Type") : std::nullopt);
    std::optional<uint32_t> handle = record.Decoded() ? record.Number(L"Handle") : std::nullopt;
    if (!handle && record.lookedUpHandle) handle = *record.lookedUpHandle;
    out += ", \"handle\": " + OptionalNumber(handle);
    out += std::string(", \"decoded\": ") + (record.Decoded() ? "true" : "false");
    if (record.outcome == Record::Outcome::NoDecoder) out += ", \"reason\": \"type without decoder\"";
    if (record.outcome == Record::Outcome::NoAttributes)
        out += ", \"reason\": \"decoder refused the structure\"";
    out += ", \"attributes\": [";
    for (size_t i = 0; i < record.attributes.size(); ++i) {
        const Attribute& a = record.attributes[i];
        out += i == 0 ? "\n    " : ",\n    ";
        out += "{\"name\": " + JsonString(a.name) + ", \"type\": \"" + TypeName(a.value.kind) +
               "\", \"value\": " + JsonValue(a.value);
        const Meaning m = meanings == Meanings::Add ? RecordMeaning(record, i) : Meaning{};
        if (m.form == Meaning::Form::Text) out += ", \"meaning\": " + JsonString(Wide(m.text));
        if (m.form == Meaning::Form::List) {
            out += ", \"meaning\": [";
            for (size_t k = 0; k < m.items.size(); ++k)
                out += (k == 0 ? "" : ", ") + JsonString(Wide(m.items[k]));
            out += "]";
        }
        out += "}";
    }
    out += record.attributes.empty() ? "]}" : "\n  ]}";
    return out;
}

std::string JsonArrayWriter::Add(const Record& record) {
    return (count_++ == 0 ? "\n  " : ",\n  ") + FormatJsonRecord(record, meanings_);
}
