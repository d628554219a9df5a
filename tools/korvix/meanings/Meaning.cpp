#include "Meaning.h"

#include <cwchar>

namespace {

const FieldMeanings* const kAll[] = {&kPlatformMeanings, &kProcessorMeanings, &kMemoryMeanings,
                                     &kCacheMeanings,    &kConnectorMeanings, &kPowerMeanings};

// "Name#" matches Name followed by a number.
bool Matches(const char* pattern, const std::wstring& name) {
    size_t i = 0;
    for (; pattern[i] != '\0' && pattern[i] != '#'; ++i)
        if (i >= name.size() || name[i] != static_cast<unsigned char>(pattern[i])) return false;
    if (pattern[i] != '#') return i == name.size();
    if (i == name.size()) return false;
    for (; i < name.size(); ++i)
        if (name[i] < L'0' || name[i] > L'9') return false;
    return true;
}

// The value as a number: numeric kinds as they are, a string of hex digits
// (the BIOS characteristics) parsed.
bool NumberOf(const AttributeValue& value, uint64_t& out) {
    switch (value.kind) {
    case ValueKind::UI1:
    case ValueKind::UI2:
    case ValueKind::UI4:
    case ValueKind::Bool:
        out = value.number;
        return true;
    case ValueKind::Text: {
        if (value.text.empty() || value.text.size() > 16) return false;
        out = 0;
        for (wchar_t c : value.text) {
            const int digit = c >= L'0' && c <= L'9'   ? c - L'0'
                              : c >= L'A' && c <= L'F' ? c - L'A' + 10
                              : c >= L'a' && c <= L'f' ? c - L'a' + 10
                                                       : -1;
            if (digit < 0) return false;
            out = out << 4 | static_cast<uint64_t>(digit);
        }
        return true;
    }
    default:
        return false;
    }
}

} // namespace

const char* Names::Find(uint32_t value) const {
    for (size_t i = 0; i < count; ++i)
        if (rows[i].value == value) return rows[i].text;
    return nullptr;
}

Meaning TextMeaning(std::string text) {
    Meaning m;
    m.form = Meaning::Form::Text;
    m.text = std::move(text);
    return m;
}

Meaning NameOf(const Names& names, uint32_t value) {
    const char* text = names.Find(value);
    return text != nullptr ? TextMeaning(text) : Meaning{};
}

Meaning BitsOf(const Names& names, uint64_t value) {
    Meaning m;
    m.form = Meaning::Form::List;
    for (uint32_t bit = 0; bit < 64; ++bit) {
        if ((value >> bit & 1) == 0) continue;
        const char* text = names.Find(bit);
        m.items.push_back(text != nullptr ? text : "bit " + std::to_string(bit) + " (reserved)");
    }
    return m;
}

std::string Bytes(uint64_t kilobytes) {
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
    size_t unit = 0;
    while (unit + 1 < sizeof kUnits / sizeof kUnits[0] && kilobytes != 0 && kilobytes % 1024 == 0) {
        kilobytes /= 1024;
        ++unit;
    }
    return std::to_string(kilobytes) + " " + kUnits[unit];
}

Meaning MeaningOf(uint8_t type, const Attribute& attribute) {
    uint64_t value = 0;
    if (!NumberOf(attribute.value, value)) return {};
    for (const FieldMeanings* list : kAll) {
        for (size_t i = 0; i < list->count; ++i) {
            const FieldMeaning& f = list->rows[i];
            if (f.type != type || !Matches(f.attribute, attribute.name)) continue;
            switch (f.form) {
            case Form::Enum:
                return NameOf(f.names, static_cast<uint32_t>(value));
            case Form::Bits:
                return BitsOf(f.names, value);
            case Form::Quantity:
                if (const char* special = f.names.Find(static_cast<uint32_t>(value)))
                    return TextMeaning(special);
                return TextMeaning(std::to_string(value) + " " + f.unit);
            case Form::Custom:
                return f.describe(value);
            }
        }
    }
    return {};
}

Meaning RecordMeaning(const Record& record, size_t index) {
    constexpr size_t kHeaderAttributes = 3;
    const auto type = record.Number(L"Type");
    if (!type || index < kHeaderAttributes || index >= record.attributes.size()) return {};
    return MeaningOf(static_cast<uint8_t>(*type), record.attributes[index]);
}
